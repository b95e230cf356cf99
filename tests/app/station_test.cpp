// tarpo-cli station on a sound file of two overs of DL1ABC, reporting to a collector on
// 127.0.0.1: one line and one heard.csv entry per over, one (test) report for both, the
// frequency from the audio centre or from --dial, and the file's end ending the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/heard_log.h"
#include "hostile.h"
#include "net/ipfix_report.h"
#include "tests/net/ipfix_reader.h"
#include "tests/net/logger_reader.h"
#include "tests/support/udp_collector.h"

namespace {

using namespace std::chrono_literals;
using Station = hostile::Dir;

// Samples of a 16-bit mono WAV file as the tool writes it (a 44-byte header).
std::vector<double> samples_of(const std::string& bytes) {
    std::vector<double> v;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 static_cast<unsigned char>(bytes[i + 1]) << 8);
        v.push_back(s / 32767.0);
    }
    return v;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class TwoOvers : public Station {
  protected:
    // Two 8 s overs with 4 s between them, 1 s before and 2 s after, all in noise at 15 dB.
    void SetUp() override {
        Station::SetUp();
        ASSERT_EQ(
            hostile::run("tx --test-frames --seconds 8 --callsign dl1abc " + path("o.wav")).status,
            0);
        const std::vector<double> over = samples_of(hostile::read_bytes(path("o.wav")));
        std::vector<double> all(48000, 0.0);
        all.insert(all.end(), over.begin(), over.end());
        all.insert(all.end(), 4 * 48000, 0.0);
        all.insert(all.end(), over.begin(), over.end());
        all.insert(all.end(), 2 * 48000, 0.0);
        hostile::write_bytes(path("clean.wav"), hostile::wav_bytes(48000, all));
        ASSERT_EQ(
            hostile::run("channel --snr 15 " + path("clean.wav") + " " + path("two.wav")).status,
            0);
        std::filesystem::create_directory(path("st"));
    }

    hostile::Result station(const std::string& more) {
        return hostile::run("station --config " + path("st") + " --input " + path("two.wav") +
                            " --report-to 127.0.0.1:" + collector.port() +
                            " --callsign N0CALL --locator FN42hn " + more);
    }

    // The spots of the one datagram the run sent.
    std::vector<tarpo::net::test::DataRecord> one_report() {
        const auto datagram = collector.receive(5000ms);
        EXPECT_TRUE(datagram);
        if (!datagram) return {};
        EXPECT_FALSE(collector.receive(300ms)) << "a second datagram";
        tarpo::net::test::IpfixSession session;
        std::vector<tarpo::net::test::DataRecord> spots;
        for (const auto& r : session.read(*datagram).records)
            if (r.template_id == tarpo::net::sender_template_id) spots.push_back(r);
        return spots;
    }

    tarpo::test::UdpCollector collector;
};

TEST_F(TwoOvers, OneLinePerOverOneTestReportAtTheFilesEnd) {
    const hostile::Result r = station("");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count_of(r.out, "  DL1ABC  SNR "), 2u) << r.out;
    EXPECT_EQ(count_of(r.out, " Hz\n"), 2u) << r.out;
    const auto rows = tarpo::engine::read_csv(hostile::read_bytes(path("st/heard.csv")));
    ASSERT_EQ(rows.size(), 3u);  // the header and two entries
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_NE(std::find(rows[i].begin(), rows[i].end(), "DL1ABC"), rows[i].end());

    const auto spots = one_report();
    ASSERT_EQ(spots.size(), 1u) << "the second over is the same callsign on the same band";
    EXPECT_EQ(spots[0].text(1), "DL1ABC");
    EXPECT_NEAR(static_cast<double>(spots[0].number(5)), 1500.0, 3.0);
    const auto snr = static_cast<std::int8_t>(spots[0].number(6));
    EXPECT_GE(snr, 5);  // 15 dB in 3 kHz; the receiver's own estimate scatters around it
    EXPECT_LE(snr, 30);
    EXPECT_EQ(spots[0].number(11), 0x81u);
}

// With the logger switched on in network.txt, the logger hears Heartbeats, a Status naming the
// station heard and Close at the end.
TEST_F(TwoOvers, TheDialFrequencyComesFirstAndTheLoggerHearsTheStation) {
    tarpo::test::UdpCollector logger;
    hostile::write_bytes(path("st/network.txt"),
                         "logger on\nlogger_to 127.0.0.1:" + logger.port() + "\n");
    const hostile::Result r = station("--dial 14236000 --antenna dipole");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto spots = one_report();
    ASSERT_EQ(spots.size(), 1u);
    EXPECT_NEAR(static_cast<double>(spots[0].number(5)), 14'237'500.0, 3.0);
    std::vector<std::uint64_t> types;
    bool dx_named = false;
    while (const auto m = logger.receive(types.empty() ? 5000ms : 500ms)) {
        tarpo::net::StreamReader in(*m);
        in.number(8);  // magic and schema
        types.push_back(in.number(4));
        in.utf8();
        if (types.back() == 1) {
            EXPECT_EQ(in.number(8), 14'236'000u);
            in.utf8();
            dx_named |= in.utf8() == "DL1ABC";
        }
    }
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ(types.front(), 0u);
    EXPECT_EQ(types.back(), 6u);
    EXPECT_TRUE(dx_named);
}

TEST_F(Station, BadOptionsAreNamedAndNothingRuns) {
    struct Case {
        const char* args;
        const char* named;
    } cases[] = {
        {"--locator ZZ99", "--locator"},
        {"--locator FN42hn --callsign N0", "--callsign"},
        {"--report-to nowhere", "--report-to"},
        {"--squelch 16", "--squelch"},
        {"stray", "stray"},
    };
    for (const Case& c : cases) {
        const hostile::Result r = hostile::run(std::string("station --config ") + path("") +
                                               " --input none.wav " + c.args);
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.out;
        EXPECT_TRUE(hostile::one_line(r.out)) << r.out;
        EXPECT_NE(r.out.find(c.named), std::string::npos) << r.out;
    }
    const hostile::Result help = hostile::run("station --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--report-to"), std::string::npos);
}

}  // namespace
