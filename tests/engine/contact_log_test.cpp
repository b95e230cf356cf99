// Contacts from heard entries: contacts.adi read back field by field (hostile text from the air
// included), the record that waits while the file is refused, the default report and the RF
// frequency, and a heard.csv line back into its entry.
#include "engine/contact_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "tests/net/logger_reader.h"
#include "tests/support/temp_dir.h"

namespace tarpo::engine {
namespace {

using net::value_of;

HeardEntry heard_w1aw() {
    HeardEntry e;
    e.start_ms = 1'700'000'000'000;  // 2023-11-14 22:13:20
    e.end_ms = 1'700'000'042'000;
    e.callsign = "W1AW";
    e.best_snr_db = 14;
    e.mean_snr_db = 11.6;
    e.audio_hz = 1500.4;
    e.dial_hz = 14'236'000.0;
    return e;
}

TEST(ContactLog, ContactsReadBackFieldByField) {
    test::TempDir dir;
    ContactLog log(dir.dir());
    const OwnStation own{"n0call", "fn42HN"};
    const ContactAnswers answers{"59", "57", "Jos\xc3\xa9", "first over"};
    std::string error;
    ASSERT_TRUE(log.append(make_contact(heard_w1aw(), answers, own, std::nullopt), error));
    // From the air: a call that tries to forge a record, no dial but the one of network.txt.
    HeardEntry hostile = heard_w1aw();
    hostile.callsign = "K1A<EOR><CALL:4>FAKE\x01";
    hostile.dial_hz.reset();
    const ContactAnswers odd{"5\xc3\xa9", "", "<EOR>\r\nname", std::string(300, 'c')};
    ASSERT_TRUE(log.append(make_contact(hostile, odd, {"NOCALL", "ZZ99"}, 7'074'000), error));

    const std::string text = dir.read(contact_file_name);
    EXPECT_EQ(text.rfind(net::adif_contact_header(), 0), 0u) << "one header, first";
    const auto records = net::read_adif_records(text);
    ASSERT_EQ(records.size(), 2u);
    const auto& r = records[0];
    EXPECT_EQ(value_of(r, "CALL"), "W1AW");
    EXPECT_EQ(value_of(r, "QSO_DATE"), "20231114");
    EXPECT_EQ(value_of(r, "TIME_ON"), "221320");
    EXPECT_EQ(value_of(r, "TIME_OFF"), "221402");
    EXPECT_EQ(value_of(r, "FREQ"), "14.237500");
    EXPECT_EQ(value_of(r, "BAND"), "20m");
    EXPECT_EQ(value_of(r, "MODE"), "DIGITALVOICE");
    EXPECT_EQ(value_of(r, "RST_SENT"), "59");
    EXPECT_EQ(value_of(r, "RST_RCVD"), "57");
    EXPECT_EQ(value_of(r, "STATION_CALLSIGN"), "N0CALL");
    EXPECT_EQ(value_of(r, "MY_GRIDSQUARE"), "FN42hn");
    EXPECT_EQ(value_of(r, "NAME"), answers.name);
    EXPECT_EQ(value_of(r, "COMMENT"), answers.comment);

    const auto& h = records[1];
    EXPECT_EQ(value_of(h, "CALL"), "K1A(EOR)(CALL:4)FAKE ");
    EXPECT_EQ(value_of(h, "FREQ"), "7.075500");
    EXPECT_EQ(value_of(h, "RST_SENT"), "5?");
    EXPECT_EQ(value_of(h, "RST_RCVD"), "(absent)");
    EXPECT_EQ(value_of(h, "NAME"), "(EOR)  name");
    EXPECT_EQ(value_of(h, "COMMENT").size(), net::adif_comment_chars);
    EXPECT_EQ(value_of(h, "STATION_CALLSIGN"), "(absent)") << "NOCALL is no callsign";
    EXPECT_EQ(value_of(h, "MY_GRIDSQUARE"), "(absent)");
}

TEST(ContactLog, ARefusedFileKeepsTheContactForTheNext) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.path(contact_file_name).c_str(), 0600), 0);
    ContactLog log(dir.dir());
    const net::Contact c = make_contact(heard_w1aw(), {"59", "59", "", ""}, {}, std::nullopt);
    std::string error;
    EXPECT_FALSE(log.append(c, error)) << "a FIFO is never waited on";
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(log.pending(), 1u);
    std::filesystem::remove(dir.path(contact_file_name));
    ASSERT_TRUE(log.append(c, error));
    EXPECT_EQ(log.pending(), 0u);
    EXPECT_EQ(net::read_adif_records(dir.read(contact_file_name)).size(), 2u);
}

TEST(ContactLog, DefaultReportAndFrequency) {
    std::string last = default_report(-100);
    EXPECT_EQ(last, "51");
    for (double snr = -20; snr <= 60; snr += 0.5) {
        const std::string r = default_report(snr);
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0], '5');
        EXPECT_GE(r, last) << snr;
        last = r;
    }
    EXPECT_EQ(last, "59");
    EXPECT_EQ(default_report(std::nan("")), "51");

    HeardEntry e = heard_w1aw();
    EXPECT_EQ(rf_frequency(e, 7'000'000).value_or(0), 14'237'500u) << "the rig's dial first";
    e.dial_hz.reset();
    EXPECT_EQ(rf_frequency(e, 7'000'000).value_or(0), 7'001'500u);
    EXPECT_FALSE(rf_frequency(e, std::nullopt));
}

TEST(ContactLog, HeardCsvLineBackToItsEntry) {
    HeardEntry e = heard_w1aw();
    e.start_ms = 1'700'000'000'000;
    e.end_ms = 1'700'000'042'000;
    e.callsign = "A \"quoted\", call";
    e.rsid_seen = true;
    const auto records = read_csv(csv_line(e) + "\n");
    ASSERT_EQ(records.size(), 1u);
    const auto back = heard_entry_from_csv(records[0]);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->start_ms, e.start_ms);
    EXPECT_EQ(back->end_ms, e.end_ms);
    EXPECT_EQ(back->callsign, e.callsign);
    EXPECT_EQ(back->best_snr_db, 14);
    EXPECT_DOUBLE_EQ(back->mean_snr_db, 11.6);
    EXPECT_DOUBLE_EQ(back->audio_hz, 1500.4);
    EXPECT_EQ(back->dial_hz.value_or(0), 14'236'000.0);
    EXPECT_TRUE(back->rsid_seen);
    e.dial_hz.reset();
    EXPECT_FALSE(heard_entry_from_csv(read_csv(csv_line(e)).at(0))->dial_hz);
    // What a cut or edited file may hold.
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{},
          {"x", "y", "W1AW", "1", "1", "1", "", "no"},
          {"2023-11-14 22:13:20", "2023-13-14 22:13:20", "W1AW", "1", "1", "1", "", "no"},
          {"2023-11-14 22:13:20", "2023-11-14 22:13:20", "W1AW", "1", "1.5x", "1", "", "no"},
          {"2023-11-14 22:13:20", "2023-11-14 22:13:20", "W1AW", "1", "1", "1", "dial", "no"}})
        EXPECT_FALSE(heard_entry_from_csv(bad));
}

}  // namespace
}  // namespace tarpo::engine
