// The logger messages against the published Heartbeat bytes and a reader written from the
// layout; the ADIF contact read back field by field, hostile text included; the callsign and
// locator checks.
#include <gtest/gtest.h>

#include <stdexcept>

#include "net/adif_contact.h"
#include "net/bands.h"
#include "net/callsign_check.h"
#include "net/wsjtx_messages.h"
#include "tests/net/logger_reader.h"

namespace tarpo::net {
namespace {

std::string to_hex(const LoggerMessage& m) {
    std::string s;
    char two[3];
    for (const std::uint8_t b : m) {
        std::snprintf(two, sizeof two, "%02x", b);
        s += two;
    }
    return s;
}

TEST(LoggerMessages, HeartbeatMatchesThePublishedBytes) {
    const LoggerSource from{"WSJT-X", 2};
    EXPECT_EQ(to_hex(heartbeat_message(from, 3, "2.4.0", "c19d62")),
              "adbccbda00000002000000000000000657534a542d58000000030000000532"
              "2e342e3000000006633139643632");
    EXPECT_EQ(to_hex(close_message({"TARPO", 3})),
              "adbccbda00000003000000060000000554415250"
              "4f");
}

TEST(LoggerMessages, QsoLoggedReadsBackFieldByField) {
    LoggedQso q;
    q.time_on_ms = 1'700'000'000'123;
    q.time_off_ms = 1'700'000'400'000;
    q.dx_call = "DL1ABC";
    q.dx_grid = "JO62";
    q.tx_hz = 14'236'000;
    q.report_sent = "59";
    q.report_received = "57";
    q.tx_power = "100";
    q.comments = "first contact \xc3\xa9";
    q.name = "Jos\xc3\xa9";
    q.operator_call = "N0CALL";
    q.my_call = "N0CALL";
    q.my_grid = "FN42hn";
    const auto m = qso_logged_message({}, q);
    StreamReader r(m);
    EXPECT_EQ(r.number(4), logger_magic);
    EXPECT_EQ(r.number(4), 3u);
    EXPECT_EQ(r.number(4), 5u);
    EXPECT_EQ(r.utf8(), "TARPO");
    EXPECT_EQ(r.date_time(), q.time_off_ms);
    EXPECT_EQ(r.utf8(), "DL1ABC");
    EXPECT_EQ(r.utf8(), "JO62");
    EXPECT_EQ(r.number(8), 14'236'000u);
    EXPECT_EQ(r.utf8(), "DIGITALVOICE");
    EXPECT_EQ(r.utf8(), "59");
    EXPECT_EQ(r.utf8(), "57");
    EXPECT_EQ(r.utf8(), "100");
    EXPECT_EQ(r.utf8(), q.comments);
    EXPECT_EQ(r.utf8(), q.name);
    EXPECT_EQ(r.date_time(), q.time_on_ms);
    EXPECT_EQ(r.utf8(), "N0CALL");
    EXPECT_EQ(r.utf8(), "N0CALL");
    EXPECT_EQ(r.utf8(), "FN42hn");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.utf8(), "");
    EXPECT_TRUE(r.done());
}

TEST(LoggerMessages, DateTimeAcrossMidnightAndBefore1970) {
    EXPECT_EQ(stream_date_time(0).julian_day, 2440588);
    EXPECT_EQ(stream_date_time(86'399'999).ms_of_day, 86'399'999u);
    EXPECT_EQ(stream_date_time(86'400'000).julian_day, 2440589);
    const auto before = stream_date_time(-1);
    EXPECT_EQ(before.julian_day, 2440587);
    EXPECT_EQ(before.ms_of_day, 86'399'999u);
    // 2000-01-01 is Julian day 2451545.
    EXPECT_EQ(stream_date_time(946'684'800'000).julian_day, 2451545);
}

TEST(LoggerMessages, LoggedAdifCarriesTheWholeText) {
    const std::string adif = adif_contact_header() + adif_contact_record({});
    const auto logged = logged_adif_message({}, adif);
    StreamReader a(logged);
    a.number(8);
    EXPECT_EQ(a.number(4), 12u);
    a.utf8();
    EXPECT_EQ(a.utf8(), adif);
    EXPECT_TRUE(a.done());
}

TEST(AdifContact, RecordReadsBackFieldByField) {
    Contact c;
    c.call = "DL1ABC/P";
    c.start_ms = 1'700'000'000'000;  // 2023-11-14 22:13:20
    c.end_ms = 1'700'000'300'000;
    c.frequency_hz = 14'236'500;
    c.rst_sent = "59";
    c.rst_received = "57";
    c.station_callsign = "N0CALL";
    c.my_gridsquare = "fn42HN";
    c.comment =
        "Gr\xc3\xbc\xc3\x9f"
        "e aus M\xc3\xbcnchen";
    c.name = "J\xc3\xbcrgen";
    const auto records =
        read_adif_records(adif_contact_header() + adif_contact_record(c) + adif_contact_record(c));
    ASSERT_EQ(records.size(), 2u);
    const auto& r = records[0];
    EXPECT_EQ(value_of(r, "CALL"), "DL1ABC/P");
    EXPECT_EQ(value_of(r, "QSO_DATE"), "20231114");
    EXPECT_EQ(value_of(r, "TIME_ON"), "221320");
    EXPECT_EQ(value_of(r, "TIME_OFF"), "221820");
    EXPECT_EQ(value_of(r, "QSO_DATE_OFF"), "(absent)");
    EXPECT_EQ(value_of(r, "FREQ"), "14.236500");
    EXPECT_EQ(value_of(r, "BAND"), "20m");
    EXPECT_EQ(value_of(r, "MODE"), "DIGITALVOICE");
    EXPECT_EQ(value_of(r, "RST_SENT"), "59");
    EXPECT_EQ(value_of(r, "RST_RCVD"), "57");
    EXPECT_EQ(value_of(r, "STATION_CALLSIGN"), "N0CALL");
    EXPECT_EQ(value_of(r, "MY_GRIDSQUARE"), "FN42hn");
    EXPECT_EQ(value_of(r, "COMMENT"), c.comment);
    EXPECT_EQ(value_of(r, "NAME"), c.name);
    EXPECT_NE(adif_contact_record(c).find("<NAME:6>J"), std::string::npos)
        << "length in characters";
}

TEST(AdifContact, HostileTextCannotForgeFieldsOrRecords) {
    Contact c;
    c.call = "W1AW<EOR><CALL:4>FAKE";
    c.comment = std::string("line\r\nbreak\x01 <EOR> ") + "\xff\xc3" + std::string(500, 'z');
    c.name = "\xed\xa0\x80 surrogate";
    c.my_gridsquare = "ZZ99";  // not a locator: left out
    const std::string text = adif_contact_record(c);
    EXPECT_EQ(text.find("<EOR>"), text.size() - 6) << text;
    const auto records = read_adif_records(text);
    ASSERT_EQ(records.size(), 1u);
    const auto& r = records[0];
    EXPECT_EQ(value_of(r, "CALL"), "W1AW(EOR)(CALL:4)FAKE");
    const std::string comment = value_of(r, "COMMENT");
    EXPECT_EQ(utf8_chars(comment), adif_comment_chars);
    EXPECT_EQ(comment.substr(0, 22), "line  break  (EOR) ??z");
    EXPECT_EQ(value_of(r, "NAME"), "??? surrogate");
    EXPECT_EQ(value_of(r, "MY_GRIDSQUARE"), "(absent)");
    EXPECT_EQ(value_of(r, "FREQ"), "(absent)");
    EXPECT_EQ(value_of(r, "QSO_DATE"), "19700101");
    c.end_ms = 86'400'000;  // over midnight
    EXPECT_EQ(value_of(read_adif_records(adif_contact_record(c)).at(0), "QSO_DATE_OFF"),
              "19700102");
    // A reader fed a cut record stops instead of running past the end.
    EXPECT_TRUE(read_adif_records("<CALL:40>W1AW").empty());
}

TEST(Checks, CallsignsLocatorsAndTheirMessages) {
    EXPECT_EQ(plausible_callsign("dl1abc/p").value_or(""), "DL1ABC/P");
    EXPECT_EQ(plausible_callsign("3DA0XYZ").value_or(""), "3DA0XYZ");
    EXPECT_EQ(plausible_callsign("K1A").value_or(""), "K1A");
    for (const char* bad : {"", "K1", "W1AW ", "W1-AW", "/W1AW", "W1//AW", "ABCDEFGHIJKLMNOP1",
                            "\xc3\x9c"
                            "1ABC"})
        EXPECT_FALSE(plausible_callsign(bad)) << bad;

    for (const char* good : {"FN42", "FN42hn", "fn42HN", "AA00aa", "RR99xx"})
        EXPECT_TRUE(valid_locator(good)) << good;
    for (const char* bad : {"", "FN4", "FN42h", "SN42", "FN4A", "FN42hy", "FN42hn00", "F N42"})
        EXPECT_FALSE(valid_locator(bad)) << bad;
    EXPECT_EQ(normal_locator("fn42HN"), "FN42hn");

    EXPECT_EQ(callsign_problem("callsign", "N0CALL"), "");
    const std::string said = callsign_problem("callsign", "N0\nCALL!");
    EXPECT_NE(said.find("callsign: \"N0?CALL!\""), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos);
    EXPECT_EQ(locator_problem("locator", "", true), "");
    EXPECT_NE(locator_problem("locator", "", false), "");
    EXPECT_NE(locator_problem("locator", "FN42hy", true).find("locator: \"FN42hy\""),
              std::string::npos);

    EXPECT_EQ(band_of(14'236'000), "20m");
    EXPECT_EQ(band_of(3'999'999), "80m");
    EXPECT_EQ(band_of(144'300'000), "2m");
    EXPECT_EQ(band_of(11'000'000), "");
}

}  // namespace
}  // namespace tarpo::net
