// The logger link against listeners on 127.0.0.1: the Heartbeat's pace on an injected clock, a
// Status only on a change, QSOLogged and LoggedADIF saying what contacts.adi says, the bare
// ADIF datagram, and Close at the end. The senders are threads (label "threads").
#include "engine/logger_link.h"

#include <gtest/gtest.h>

#include <optional>

#include "engine/contact_log.h"
#include "tests/net/logger_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_collector.h"

namespace tarpo::engine {
namespace {

using namespace std::chrono_literals;
using Listener = test::UdpCollector;

Endpoint endpoint_of(const Listener& l) {
    return {"127.0.0.1", l.port()};
}

// The type of a logger message, after checking the magic, the schema and our id.
std::uint64_t type_of(net::StreamReader& r) {
    EXPECT_EQ(r.number(4), net::logger_magic);
    EXPECT_EQ(r.number(4), net::logger_schema);
    const std::uint64_t type = r.number(4);
    EXPECT_EQ(r.utf8(), "TARPO");
    return type;
}

std::uint64_t next_type(Listener& l) {
    const auto m = l.receive();
    if (!m) return 999;
    net::StreamReader r(*m);
    return type_of(r);
}

NetworkSettings logger_to(const Listener& l) {
    NetworkSettings s;
    s.logger = true;
    s.logger_to = endpoint_of(l);
    return s;
}

TEST(LoggerLink, HeartbeatsKeepTheirPaceAndCloseEndsThem) {
    Listener logger;
    LoggerLink link(logger_to(logger));
    EXPECT_TRUE(link.sends_messages());
    EXPECT_FALSE(link.sends_adif());
    std::int64_t now = 5'000'000;
    // Ticks every 150 ms for a minute: a Heartbeat at the first and every 15 s.
    for (int i = 0; i <= 400; ++i, now += 150) link.tick(now);
    int heartbeats = 0;
    while (const auto m = logger.receive(300ms)) {
        net::StreamReader r(*m);
        ASSERT_EQ(type_of(r), 0u);
        EXPECT_EQ(r.number(4), net::logger_schema);  // the most we speak
        EXPECT_FALSE(r.utf8().empty());              // version
        r.utf8();
        EXPECT_TRUE(r.done());
        ++heartbeats;
    }
    EXPECT_EQ(heartbeats, 5);  // at 0, 15, 30, 45 and 60 s
    EXPECT_TRUE(link.stop());
    EXPECT_EQ(next_type(logger), 6u);
    link.tick(now + 60'000);
    link.status({});
    EXPECT_FALSE(logger.receive(200ms)) << "nothing after Close";
}

TEST(LoggerLink, StatusOnlyWhenDialTransmitOrDxChange) {
    Listener logger;
    LoggerLink link(logger_to(logger));
    net::LoggerStatus s;
    s.dial_hz = 14'236'000;
    s.de_call = "N0CALL";
    link.status(s);
    s.rx_df_hz = 1510;  // tuning alone is no change worth a message
    link.status(s);
    s.transmitting = s.tx_enabled = true;
    link.status(s);
    link.status(s);
    s.dx_call = "DL1ABC";
    link.status(s);
    s.dial_hz = 7'074'000;
    link.status(s);
    link.status(s);
    std::vector<std::pair<std::uint64_t, std::string>> seen;
    while (const auto m = logger.receive(300ms)) {
        net::StreamReader r(*m);
        ASSERT_EQ(type_of(r), 1u);
        const std::uint64_t dial = r.number(8);
        r.utf8();  // mode
        seen.emplace_back(dial, r.utf8());
    }
    const std::vector<std::pair<std::uint64_t, std::string>> expected{
        {14'236'000, ""}, {14'236'000, ""}, {14'236'000, "DL1ABC"}, {7'074'000, "DL1ABC"}};
    EXPECT_EQ(seen, expected);
}

TEST(LoggerLink, ContactMessagesSayWhatTheLogSays) {
    Listener logger;
    Listener adif;
    NetworkSettings s = logger_to(logger);
    s.adif = true;
    s.adif_to = endpoint_of(adif);
    LoggerLink link(s);
    HeardEntry e;
    e.start_ms = 1'700'000'000'000;
    e.end_ms = 1'700'000'042'000;
    e.callsign = "DL1ABC<EOR>";
    e.audio_hz = 1500;
    e.dial_hz = 14'236'000.0;
    const net::Contact c =
        make_contact(e, {"59", "57", "Hans", "via <loop>"}, {"N0CALL", "FN42hn"}, std::nullopt);
    test::TempDir dir;
    ContactLog log(dir.dir());
    std::string error;
    ASSERT_TRUE(log.append(c, error));
    link.contact(c);

    const auto logged = logger.receive();
    ASSERT_TRUE(logged);
    net::StreamReader q(*logged);
    ASSERT_EQ(type_of(q), 5u);
    EXPECT_EQ(q.date_time(), e.end_ms);
    EXPECT_EQ(q.utf8(), "DL1ABC(EOR)");
    EXPECT_EQ(q.utf8(), "");  // DX grid
    EXPECT_EQ(q.number(8), 14'237'500u);
    EXPECT_EQ(q.utf8(), "DIGITALVOICE");
    EXPECT_EQ(q.utf8(), "59");
    EXPECT_EQ(q.utf8(), "57");
    EXPECT_EQ(q.utf8(), "");  // power
    EXPECT_EQ(q.utf8(), "via (loop)");
    EXPECT_EQ(q.utf8(), "Hans");
    EXPECT_EQ(q.date_time(), e.start_ms);
    EXPECT_EQ(q.utf8(), "");  // operator
    EXPECT_EQ(q.utf8(), "N0CALL");
    EXPECT_EQ(q.utf8(), "FN42hn");

    const auto file_records = net::read_adif_records(dir.read(contact_file_name));
    ASSERT_EQ(file_records.size(), 1u);
    const auto same_record = [&](const std::string& text) {
        const auto records = net::read_adif_records(text);
        ASSERT_EQ(records.size(), 1u);
        ASSERT_EQ(records[0].size(), file_records[0].size());
        for (std::size_t i = 0; i < records[0].size(); ++i) {
            EXPECT_EQ(records[0][i].name, file_records[0][i].name);
            EXPECT_EQ(records[0][i].value, file_records[0][i].value);
        }
    };
    const auto logged_adif = logger.receive();
    ASSERT_TRUE(logged_adif);
    net::StreamReader a(*logged_adif);
    ASSERT_EQ(type_of(a), 12u);
    const std::string text = a.utf8();
    EXPECT_TRUE(a.done());
    EXPECT_NE(text.find("<EOH>"), std::string::npos);
    same_record(text);

    const auto bare = adif.receive();
    ASSERT_TRUE(bare);
    const std::string bare_text(bare->begin(), bare->end());
    EXPECT_EQ(bare_text, text) << "the same header and record, without the message around it";
    same_record(bare_text);
    EXPECT_TRUE(link.stop());
    EXPECT_EQ(next_type(logger), 6u);
    EXPECT_FALSE(adif.receive(200ms)) << "the ADIF destination hears only contacts";
}

TEST(LoggerLink, SwitchedOffSendsNothing) {
    Listener logger;
    NetworkSettings s = logger_to(logger);
    s.logger = false;
    LoggerLink link(s);
    EXPECT_FALSE(link.sends_messages());
    link.tick(0);
    link.status({});
    link.contact({});
    EXPECT_TRUE(link.stop());
    EXPECT_FALSE(logger.receive(200ms));
}

}  // namespace
}  // namespace tarpo::engine
