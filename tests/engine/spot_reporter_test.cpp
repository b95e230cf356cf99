// Reception reports from heard-log entries, against a collector on 127.0.0.1 read back with the
// tests' IPFIX reader: what a spot carries, the pace, and what keeps an entry off the map.
// The reporter's sender is a thread: label "threads".
#include "engine/spot_reporter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "tests/net/ipfix_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_collector.h"

namespace tarpo::engine {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t t0 = 1'900'000'000;  // Unix seconds

NetworkSettings to_collector(const test::UdpCollector& collector) {
    NetworkSettings n;
    n.report = true;
    n.report_to = {"127.0.0.1", collector.port()};
    n.antenna = "dipole";
    return n;
}

HeardEntry entry(const std::string& call, double audio_hz, std::optional<double> dial) {
    HeardEntry e;
    e.start_ms = (t0 + 2) * 1000 + 750;
    e.end_ms = e.start_ms + 9000;
    e.callsign = call;
    e.mean_snr_db = 11.6;
    e.best_snr_db = 14;
    e.audio_hz = audio_hz;
    e.dial_hz = dial;
    return e;
}

std::vector<net::test::DataRecord> spots_of(const net::test::IpfixMessage& m) {
    std::vector<net::test::DataRecord> spots;
    for (const auto& r : m.records)
        if (r.template_id == net::sender_template_id) spots.push_back(r);
    return spots;
}

bool says(const std::vector<std::string>& notes, const std::string& part) {
    return std::any_of(notes.begin(), notes.end(),
                       [&part](const std::string& n) { return n.find(part) != std::string::npos; });
}

TEST(SpotReporter, SpotsOfTheRigsDialOrTheEnteredOneAtTheCollectorsPace) {
    test::UdpCollector collector;
    NetworkSettings network = to_collector(collector);
    network.dial_hz = 7'100'000;
    SpotReporter reporter(network, {"n0call", "FN42HN"}, true, t0);
    ASSERT_TRUE(reporter.active());
    reporter.heard(entry("dl1abc", 1500.4, 14'236'000.0), t0 + 12);  // the rig's dial
    reporter.heard(entry("K1ABC", 1000.0, std::nullopt), t0 + 13);   // network.txt's
    reporter.heard(entry("DL1ABC", 1500.0, 14'236'000.0), t0 + 14);  // again on 20 m
    reporter.heard(entry("?3#", 1500.0, 14'236'000.0), t0 + 15);     // not a callsign
    reporter.heard(entry("", 1500.0, 14'236'000.0), t0 + 15);
    reporter.tick(t0 + 299);
    EXPECT_FALSE(collector.receive(300ms)) << "nothing before five minutes";
    EXPECT_EQ(reporter.counts().waiting, 2u);
    reporter.tick(t0 + 300);
    // The batch is the sender's now; stop() has it sent without the sender's idle wait and
    // finds nothing more to flush.
    reporter.stop(t0 + 300);
    const auto datagram = collector.receive(5000ms);
    ASSERT_TRUE(datagram);

    net::test::IpfixSession session;
    const net::test::IpfixMessage m = session.read(*datagram);
    const auto receiver = std::find_if(m.records.begin(), m.records.end(), [](const auto& r) {
        return r.template_id == net::receiver_template_id;
    });
    ASSERT_NE(receiver, m.records.end());
    EXPECT_EQ(receiver->text(2), "N0CALL");
    EXPECT_EQ(receiver->text(4), "FN42hn");
    EXPECT_EQ(receiver->text(9), "dipole");
    const auto spots = spots_of(m);
    ASSERT_EQ(spots.size(), 2u);
    EXPECT_EQ(spots[0].text(1), "DL1ABC");
    EXPECT_EQ(spots[0].number(5), 14'237'500u);  // dial + audio centre, to the hertz
    EXPECT_EQ(spots[0].number(6), 12u);          // the mean SNR, rounded
    EXPECT_EQ(spots[0].number(11), 0x81u);       // decoded, test bit
    EXPECT_EQ(spots[0].number(150, 0), static_cast<std::uint64_t>(t0 + 2));
    EXPECT_EQ(spots[1].text(1), "K1ABC");
    EXPECT_EQ(spots[1].number(5), 7'101'000u);
    EXPECT_EQ(reporter.counts().spots, 2u);
    EXPECT_EQ(reporter.counts().sent, 1u);
    EXPECT_FALSE(collector.receive(300ms)) << "one datagram for the batch";
    EXPECT_TRUE(reporter.take_notes().empty());
}

TEST(SpotReporter, WithoutADialFrequencyNothingGoesAndItIsSaidOnce) {
    test::UdpCollector collector;
    SpotReporter reporter(to_collector(collector), {"N0CALL", "FN42"}, false, t0);
    reporter.heard(entry("DL1ABC", 1500.0, std::nullopt), t0 + 20);
    reporter.heard(entry("K1ABC", 1500.0, std::nullopt), t0 + 40);
    const std::vector<std::string> notes = reporter.take_notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(says(notes, "dial frequency")) << notes[0];
    reporter.stop(t0 + 60);
    EXPECT_FALSE(collector.receive(300ms));
    EXPECT_EQ(reporter.counts().spots, 0u);
}

TEST(SpotReporter, FlushesAtStopWithoutTheTestBit) {
    test::UdpCollector collector;
    SpotReporter reporter(to_collector(collector), {"N0CALL", "FN42hn37"}, false, t0);
    ASSERT_TRUE(reporter.active()) << "an 8-character locator is reported by its first six";
    reporter.heard(entry("W1AW", 1200.0, 3'760'000.0), t0 + 30);
    reporter.stop(t0 + 31);
    const auto datagram = collector.receive(5000ms);
    ASSERT_TRUE(datagram);
    net::test::IpfixSession session;
    const auto spots = spots_of(session.read(*datagram));
    ASSERT_EQ(spots.size(), 1u);
    EXPECT_EQ(spots[0].number(5), 3'761'200u);
    EXPECT_EQ(spots[0].number(11), 1u);
    reporter.heard(entry("K1ABC", 1200.0, 3'760'000.0), t0 + 40);  // after stop: nothing
    reporter.stop(t0 + 41);
    EXPECT_FALSE(collector.receive(300ms));
}

TEST(SpotReporter, BadSettingsRefuseReportingWithOneLineNamingThem) {
    NetworkSettings network;
    network.report = true;
    network.report_to = {"127.0.0.1", "9"};
    struct Case {
        SpotIdentity identity;
        const char* named;
    } cases[] = {
        {{"N0", "FN42"}, "cs.txt"},
        {{"N0CALL", "ZZ99"}, "locator.txt"},
        {{"N0CALL", ""}, "locator.txt"},
        {{"N0CALL", "FN42", "--callsign", "--locator"}, nullptr},
        {{"DL1ABC\x01", "FN42", "--callsign"}, "--callsign"},
    };
    for (const Case& c : cases) {
        SpotReporter reporter(network, c.identity, false, t0);
        const std::vector<std::string> notes = reporter.take_notes();
        if (!c.named) {
            EXPECT_TRUE(reporter.active());
            EXPECT_TRUE(notes.empty());
            continue;
        }
        EXPECT_FALSE(reporter.active()) << c.named;
        ASSERT_EQ(notes.size(), 1u) << c.named;
        EXPECT_EQ(notes[0].rfind(c.named, 0), 0u) << notes[0];
        reporter.heard(entry("DL1ABC", 1500.0, 14'236'000.0), t0 + 1);
        EXPECT_EQ(reporter.counts().spots, 0u);
    }
}

TEST(SpotReporter, SettingsFromTheWorkingDirectory) {
    test::TempDir dir;
    EXPECT_FALSE(network_settings_in(dir.dir()).report);
    EXPECT_EQ(make_spot_reporter(network_settings_in(dir.dir()), {}, false, t0), nullptr);
    dir.write("network.txt", "report on\nreport_to 127.0.0.1:4740\ndial 14236000\n");
    dir.write("cs.txt", " dl1abc\n");
    dir.write("locator.txt", "JO31ne\nsecond line\n");
    const NetworkSettings n = network_settings_in(dir.dir());
    EXPECT_TRUE(n.report);
    EXPECT_EQ(n.report_to, (Endpoint{"127.0.0.1", "4740"}));
    EXPECT_EQ(n.dial_hz, 14'236'000u);
    const SpotIdentity id = spot_identity_in(dir.dir());
    EXPECT_EQ(id.callsign, "dl1abc");
    EXPECT_EQ(id.locator, "JO31ne");
    EXPECT_NE(make_spot_reporter(n, id, false, t0), nullptr);
}

}  // namespace
}  // namespace tarpo::engine
