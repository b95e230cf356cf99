// tarpo-cli as a user runs it: files in, a summary out, exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

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
