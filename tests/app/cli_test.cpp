// tarpo-cli as a user runs it: files in, a summary out, exit status.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::map<std::string, std::string> fields;  // "key: value" lines
};

Result run(const std::string& args) {
    Result r;
    const std::string command = std::string(TARPO_CLI) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) r.out += buffer;
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos) r.fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return r;
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tarpo-cli-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }
    fs::path dir;
};

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
    EXPECT_NE(rx.out.find("frequency 1500.00 Hz"), std::string::npos) << rx.out;
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
