// tarpo-cli as a user runs it: files in, a summary out, exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hostile.h"

namespace {

namespace fs = std::filesystem;

struct Result : hostile::Result {
    std::map<std::string, std::string> fields;  // "key: value" lines
};

Result run(const std::string& args) {
    Result r{hostile::run(args), {}};
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos) r.fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return r;
}

using Cli = hostile::Dir;

TEST_F(Cli, TestFramesEndToEnd) {
    const Result tx = run("tx --test-frames --seconds 20 " + path("a.wav"));
    ASSERT_EQ(tx.status, 0) << tx.out;
    EXPECT_EQ(fs::file_size(path("a.wav")), 44u + 20 * 48000 * 2);

    const Result rx = run("rx --test-frames --frames " + path("f.txt") + " " + path("a.wav"));
    ASSERT_EQ(rx.status, 0) << rx.out;
    EXPECT_EQ(rx.fields.at("BER"), "0") << rx.out;
    EXPECT_EQ(rx.fields.at("bit errors"), "0");
    EXPECT_GE(std::stoi(rx.fields.at("bits compared")), 490 * 54);
    EXPECT_EQ(rx.fields.at("callsign"), "NOCALL");
    EXPECT_EQ(rx.fields.at("frequency"), "1500.00 Hz");
    EXPECT_GE(std::stoi(rx.fields.at("SNR")), 20);

    // One line per frame: 54 bits, the callsign dibit, phase_error with four decimals.
    std::ifstream frames(path("f.txt"));
    std::string bits;
    int dibit = -1;
    std::string quality;
    int lines = 0;
    while (frames >> bits >> dibit >> quality) {
        ++lines;
        EXPECT_EQ(bits.size(), 54u);
        EXPECT_EQ(bits.find_first_not_of("01"), std::string::npos);
        EXPECT_GE(dibit, 0);
        EXPECT_LE(dibit, 3);
        EXPECT_EQ(quality.size() - quality.find('.'), 5u) << quality;
    }
    EXPECT_EQ(std::to_string(lines), rx.fields.at("frames assembled"));
}

TEST_F(Cli, OtherCentreCallsignSplitAndAlc) {
    ASSERT_EQ(
        run("tx --test-frames --seconds 6 --freq 1000 --alc --callsign k1abc " + path("b.wav"))
            .status,
        0);
    Result rx = run("rx --test-frames --freq 1000 " + path("b.wav"));
    EXPECT_EQ(rx.fields.at("BER"), "0") << rx.out;
    EXPECT_EQ(rx.fields.at("callsign"), "K1ABC");
    // With Split the transmitter stays at 1500 Hz whatever --freq says.
    ASSERT_EQ(run("tx --test-frames --seconds 6 --freq 1000 --split " + path("c.wav")).status, 0);
    rx = run("rx --test-frames " + path("c.wav"));
    EXPECT_EQ(rx.fields.at("BER"), "0") << rx.out;
}

TEST_F(Cli, BadUsageAndBadFiles) {
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--help").status, 0);
    EXPECT_EQ(run("frobnicate").status, 2);
    EXPECT_EQ(run("tx --test-frames " + path("x.wav")).status, 2);  // no --seconds
    EXPECT_EQ(run("tx --test-frames --seconds abc " + path("x.wav")).status, 2);
    EXPECT_EQ(run("tx --test-frames --seconds 1 --freq 99999 " + path("x.wav")).status, 2);
    EXPECT_FALSE(fs::exists(path("x.wav")));

    const Result missing = run("rx --test-frames " + path("missing.wav"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("missing.wav"), std::string::npos) << missing.out;
    std::ofstream(path("text.wav")) << "this is not a sound file\n";
    EXPECT_EQ(run("rx --test-frames " + path("text.wav")).status, 2);
    // A write into a folder that does not exist fails without leaving anything behind.
    EXPECT_NE(run("tx --test-frames --seconds 1 " + path("no/such/dir/x.wav")).status, 0);
}

// All verbs read their options through one parser, each in its own words: the messages that
// scripts may match stay as they have always been.
TEST_F(Cli, OneParserForEveryVerb) {
    const std::string x = path("x.wav");
    const std::pair<std::string, std::string> problems[] = {
        {"tx --test-frames --seconds 1 --freq 99999 " + x,
         "tarpo-cli tx: --freq 99999 is out of range (500 to 3000)\n"},
        {"tx --test-frames " + x + " --seconds", "tarpo-cli tx: --seconds needs a value\n"},
        {"rx --squelch 2.5 a b", "tarpo-cli rx: --squelch takes a whole number 0..15\n"},
        {"rx --freq=fast a", "tarpo-cli rx: --freq takes a number, not 'fast'\n"},
        {"rx --bogus a", "tarpo-cli rx: unknown option '--bogus'\n"},
        {"tx --split=1 a b", "tarpo-cli tx: --split takes no value\n"},
        {"channel --snr 101 a b",
         "tarpo-cli channel: --snr must lie between -30 and 100 dB, "
         "not 101\n"},
        {"channel --fading Poor a b",
         "tarpo-cli channel: --fading must be none, good, moderate or poor, not 'Poor'\n"},
        {"codec --bogus a b", "tarpo-cli codec: unknown option '--bogus'\n"},
        {"devices extra", "tarpo-cli devices: unexpected argument 'extra'\n"},
    };
    for (const auto& [args, message] : problems) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, message) << args;
    }
    EXPECT_FALSE(fs::exists(x));

    // "--name value" and "--name=value" are the same.
    ASSERT_EQ(
        run("tx --test-frames --seconds 2 --freq=1537 --callsign=k1abc " + path("a.wav")).status,
        0);
    ASSERT_EQ(
        run("tx --test-frames --seconds 2 --freq 1537 --callsign k1abc " + path("b.wav")).status,
        0);
    std::ifstream a(path("a.wav"), std::ios::binary), b(path("b.wav"), std::ios::binary);
    EXPECT_TRUE(
        std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}));

    // The help is made from the option tables: channel's reads as it was written by hand.
    const Result help = run("channel --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out,
              "usage: tarpo-cli channel [--snr DB | --ebno DB] [--offset HZ] [--ppm N]\n"
              "                         [--fading none|good|moderate|poor] [--seed N] IN.wav "
              "OUT.wav\n"
              "  --snr DB      signal to noise ratio in 3000 Hz, -30..100 (default: no noise)\n"
              "  --ebno DB     the same per data bit: Eb/N0 = SNR x 3000 / 1400, -30..100\n"
              "  --offset HZ   frequency shift of the whole signal, -5000..5000\n"
              "  --ppm N       receiving sound card's clock error, -50000..50000\n"
              "  --fading P    two-path fading: none, good (0.5 ms, 0.1 Hz), moderate (1 ms, "
              "0.5 Hz),\n"
              "                poor (2 ms, 1 Hz)\n"
              "  --seed N      seed of the noise and the fading, 0..18446744073709551615 "
              "(default 1)\n");
    const Result overview = run("--help");
    for (const char* option : {"--callsign TEXT", "--squelch N", "--fading P"})
        EXPECT_NE(overview.out.find(option), std::string::npos) << option;
}

}  // namespace

namespace {

// Speech files made here: a vowel-like buzz with a pitch, so the tests need no speech data.
void write_buzz(const std::string& path, int rate, int channels, double seconds) {
    std::vector<std::int16_t> samples;
    for (int n = 0; n < static_cast<int>(seconds * rate); ++n) {
        const double t = static_cast<double>(n) / rate;
        double v = 0;
        for (int h = 1; h <= 20; ++h) v += std::sin(2 * M_PI * 120 * h * t) / h;
        for (int c = 0; c < channels; ++c) samples.push_back(static_cast<std::int16_t>(3000 * v));
    }
    // A plain RIFF/WAVE header, 16-bit PCM.
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const std::uint32_t bytes = static_cast<std::uint32_t>(samples.size() * 2);
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(static_cast<std::uint16_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * channels * 2));
    u16(static_cast<std::uint16_t>(channels * 2));
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

TEST_F(Cli, SpeechThroughTxAndRxKeepsTheTimeline) {
    write_buzz(path("speech.wav"), 22050, 2, 3.0);
    const Result tx = run("tx --callsign dl1abc " + path("speech.wav") + " " + path("tx.wav"));
    ASSERT_EQ(tx.status, 0) << tx.out;
    const Result rx = run("rx " + path("tx.wav") + " " + path("rx.wav"));
    ASSERT_EQ(rx.status, 0) << rx.out;
    EXPECT_NE(rx.out.find("callsign DL1ABC"), std::string::npos) << rx.out;
    // The tracked frequency, within what the frames' own content moves it.
    const auto at = rx.out.find("frequency ");
    ASSERT_NE(at, std::string::npos) << rx.out;
    EXPECT_NEAR(std::stod(rx.out.substr(at + 10)), 1500.0, 0.05) << rx.out;
    // 3 s of speech are 75 frames; each frame played or withheld gives 40 ms of output.
    EXPECT_EQ(fs::file_size(path("rx.wav")), 44u + 75 * 1920 * 2);

    // A closed squelch withholds every frame: the same timeline, all silence.
    const Result closed = run("rx --squelch 0 " + path("tx.wav") + " " + path("quiet.wav"));
    EXPECT_NE(closed.out.find("played 0"), std::string::npos) << closed.out;
    EXPECT_EQ(fs::file_size(path("quiet.wav")), 44u + 75 * 1920 * 2);
    EXPECT_EQ(run("rx --squelch 16 " + path("tx.wav") + " " + path("q.wav")).status, 2);
    EXPECT_EQ(run("rx --squelch 2.5 " + path("tx.wav") + " " + path("q.wav")).status, 2);

    const Result codec = run("codec " + path("speech.wav") + " " + path("codec.wav"));
    ASSERT_EQ(codec.status, 0) << codec.out;
    EXPECT_EQ(fs::file_size(path("codec.wav")), 44u + 75 * 320 * 2);  // 8 kHz out
}

TEST_F(Cli, AcquisitionAndIdentificationBursts) {
    // A station 37 Hz off: one acquisition request after a second brings the receiver within
    // reach of the frequency tracking, and the frames decode.
    ASSERT_EQ(run("tx --test-frames --seconds 10 --freq 1537 " + path("off.wav")).status, 0);
    const Result rx = run("rx --test-frames --acquire " + path("off.wav"));
    EXPECT_EQ(rx.fields.at("BER"), "0") << rx.out;
    EXPECT_GT(std::stoi(rx.fields.at("bits compared")), 200 * 54);
    EXPECT_NEAR(std::stod(rx.fields.at("frequency")), 1537.0, 0.1);

    // A burst ahead of the signal retunes a receiver that listens for it.
    ASSERT_EQ(run("tx --test-frames --txid --seconds 4 --freq 1700 " + path("id.wav")).status, 0);
    const Result id = run("rx --test-frames --rxid " + path("id.wav"));
    EXPECT_NE(id.out.find("RSID 1700."), std::string::npos) << id.out;
    EXPECT_NE(id.out.find("  TARPO"), std::string::npos);
    EXPECT_EQ(id.fields.at("BER"), "0") << id.out;
    EXPECT_NEAR(std::stod(id.fields.at("frequency")), 1700.0, 0.1);
}

}  // namespace
