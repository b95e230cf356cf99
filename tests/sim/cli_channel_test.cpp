// The channel verb as a user runs it: the built tarpo-cli binary on files, with its exit status,
// its messages and the files it leaves behind.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "app/wavfile.h"
#include "sim/channel.h"
#include "tests/sim/probe.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace tarpo::sim {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

using tarpo::test::slurp;

class ChannelVerb : public ::testing::Test {
  protected:
    fs::path path(const std::string& name) const { return temp_.path(name); }

    Outcome invoke(std::initializer_list<std::string> args) const {
        std::string cmd = TARPO_CLI_PATH " channel";
        for (const std::string& a : args) cmd += " '" + a + "'";
        cmd += " >'" + path("stdout").string() + "' 2>'" + path("stderr").string() + "'";
        Outcome r;
        const int w = std::system(cmd.c_str());
        r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
        r.out = slurp(path("stdout"));
        r.err = slurp(path("stderr"));
        return r;
    }

    // Writes `channels` interleaved channels of `frames` frames in the given format.
    fs::path write_sound(const std::string& name, int rate, int channels, int format,
                         const std::vector<double>& interleaved) const {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
        if (!interleaved.empty())
            sf_writef_double(f, interleaved.data(),
                             static_cast<sf_count_t>(interleaved.size()) / channels);
        sf_close(f);
        return path(name);
    }

    fs::path write_wav48(const std::string& name, const std::vector<double>& samples16) const {
        std::vector<double> scaled(samples16);
        for (double& v : scaled) v /= 32768.0;
        return write_sound(name, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, scaled);
    }

    static std::vector<std::int16_t> read_pcm16(const fs::path& p, SF_INFO& info) {
        info = SF_INFO{};
        SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
        EXPECT_NE(f, nullptr);
        if (!f) return {};
        std::vector<std::int16_t> v(static_cast<std::size_t>(info.frames * info.channels));
        sf_read_short(f, v.data(), static_cast<sf_count_t>(v.size()));
        sf_close(f);
        return v;
    }

    // A failed run: status 2, exactly one line on stderr naming the verb, no output file and no
    // temporary file beside it.
    void expect_rejected(const Outcome& r, const fs::path& out) const {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("tarpo-cli channel: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_FALSE(fs::exists(out.string() + ".part"));
    }

    tarpo::test::TempDir temp_{"tarpo-sim"};
};

TEST_F(ChannelVerb, RejectsBadFiles) {
    const fs::path out = path("out.wav");
    {
        SCOPED_TRACE("missing");
        expect_rejected(invoke({path("nothing.wav").string(), out.string()}), out);
    }
    {
        SCOPED_TRACE("text, not a sound file");
        std::ofstream(path("notes.wav")) << "this is not a sound file\n";
        expect_rejected(invoke({path("notes.wav").string(), out.string()}), out);
    }
    {
        SCOPED_TRACE("a RIFF header followed by rubbish");
        std::ofstream(path("broken.wav"), std::ios::binary) << "RIFF\x24\0\0\0WAVEfmt rubbish";
        expect_rejected(invoke({path("broken.wav").string(), out.string()}), out);
    }
    {
        SCOPED_TRACE("empty WAV");
        write_sound("empty.wav", 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, {});
        expect_rejected(invoke({path("empty.wav").string(), out.string()}), out);
    }
    {
        SCOPED_TRACE("float WAV holding a NaN");
        write_sound("nan.wav", 48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                    {0.1, std::nan(""), 0.2, 0.3});
        expect_rejected(invoke({"--snr", "10", path("nan.wav").string(), out.string()}), out);
    }
    {
        SCOPED_TRACE("a failure leaves an existing output alone");
        std::ofstream(out) << "keep";
        const Outcome r = invoke({path("nothing.wav").string(), out.string()});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(slurp(out), "keep");
    }
}

TEST_F(ChannelVerb, RejectsBadArguments) {
    const fs::path in = write_wav48("in.wav", probe::tone(4800, 1000.0, 1000.0));
    const fs::path out = path("out.wav");
    const std::string i = in.string(), o = out.string();
    const std::vector<std::vector<std::string>> cases = {
        {"--ppm", "50001", i, o},
        {"--ppm", "-60000", i, o},
        {"--snr", "abc", i, o},
        {"--snr", "10dB", i, o},
        {"--snr", "nan", i, o},
        {"--ebno", "inf", i, o},
        {"--snr", "101", i, o},
        {"--snr", "3", "--ebno", "5", i, o},
        {"--fading", "stormy", i, o},
        {"--fading", "Poor", i, o},
        {"--offset", "1e9", i, o},
        {"--seed", "-1", i, o},
        {"--seed", "99999999999999999999", i, o},
        {"--seed", "1.5", i, o},
        {"--bogus", "1", i, o},
        {i, o, "--snr"},
        {i},
        {i, o, path("third.wav").string()},
        {},
    };
    for (const auto& c : cases) {
        std::string cmd = TARPO_CLI_PATH " channel";
        std::string shown;
        for (const std::string& a : c) {
            cmd += " '" + a + "'";
            shown += a + " ";
        }
        cmd += " >/dev/null 2>'" + path("stderr").string() + "'";
        const int w = std::system(cmd.c_str());
        Outcome r;
        r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
        r.err = slurp(path("stderr"));
        SCOPED_TRACE(shown);
        expect_rejected(r, out);
    }
}

TEST_F(ChannelVerb, AcceptsStereo8kHzAndKeepsTheFirstChannel) {
    // Left 500 Hz, right 1000 Hz, two seconds at 8 kHz: the output is 48 kHz mono 16-bit, six
    // times as long, carrying the left channel's tone only.
    std::vector<double> stereo;
    for (int n = 0; n < 16000; ++n) {
        stereo.push_back(0.25 * std::cos(2.0 * std::numbers::pi * 500.0 * n / 8000.0));
        stereo.push_back(0.25 * std::cos(2.0 * std::numbers::pi * 1000.0 * n / 8000.0));
    }
    const fs::path in =
        write_sound("stereo.wav", 8000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, stereo);
    const fs::path out = path("out.wav");
    const Outcome r = invoke({in.string(), out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info;
    const std::vector<std::int16_t> pcm = read_pcm16(out, info);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_NEAR(static_cast<double>(pcm.size()), 96000.0, 6.0);
    std::vector<double> x(pcm.begin() + 4800, pcm.end() - 4800);
    // 0.25 of full scale is 8192; the resampler keeps it within 0.1 %, and the other channel
    // must not leak at all (16-bit rounding alone is at -100 dB).
    EXPECT_NEAR(std::abs(probe::amplitude_at(x, 500.0)), 8192.0, 8.2);
    EXPECT_LT(std::abs(probe::amplitude_at(x, 1000.0)), 1.0);
}

TEST_F(ChannelVerb, OutputIsTheSimulatorsRoundedAndSaturated) {
    // A loud tone at -10 dB SNR: the noise drives many samples past full scale, which must
    // stick at the rails instead of wrapping round. Every other sample is the simulator's value
    // rounded to the nearest integer.
    const fs::path in = write_wav48("loud.wav", probe::tone(24000, 1000.0, 30000.0));
    const fs::path out = path("out.wav");
    const Outcome r =
        invoke({"--snr", "-10", "--fading", "good", "--seed", "9", in.string(), out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("clipped"), std::string::npos);

    std::vector<double> input;
    app::SoundInfo sound;
    std::string error;
    ASSERT_TRUE(app::read_sound(in.string(), 48000, input, sound, error)) << error;
    ChannelSettings s;
    s.snr_db = -10.0;
    s.fading = Fading::good;
    s.seed = 9;
    const std::vector<double> expected = simulate_channel(input, s).samples;
    SF_INFO info;
    const std::vector<std::int16_t> pcm = read_pcm16(out, info);
    ASSERT_EQ(pcm.size(), expected.size());
    int rails = 0;
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double e = std::clamp(std::round(expected[n]), -32768.0, 32767.0);
        ASSERT_EQ(pcm[n], static_cast<std::int16_t>(e)) << n << " " << expected[n];
        rails += pcm[n] == 32767 || pcm[n] == -32768;
    }
    EXPECT_GT(rails, 100);
}

TEST_F(ChannelVerb, SameSeedSameFileOtherSeedOther) {
    const fs::path in = write_wav48("in.wav", probe::tone(48000, 1500.0, 8000.0));
    auto make = [&](const std::string& seed, const std::string& name) {
        const Outcome r = invoke({"--snr", "10", "--fading", "moderate", "--offset", "-3", "--ppm",
                                  "300", "--seed", seed, in.string(), path(name).string()});
        EXPECT_EQ(r.status, 0) << r.err;
        return slurp(path(name));
    };
    const std::string a = make("123", "a.wav");
    EXPECT_EQ(make("123", "b.wav"), a);
    EXPECT_NE(make("124", "c.wav"), a);
}

TEST_F(ChannelVerb, PrintsTheSnrAndEbN0ItApplied) {
    const fs::path in = write_wav48("in.wav", probe::tone(4800, 1500.0, 8000.0));
    const std::string o = path("out.wav").string();
    Outcome r = invoke({"--ebno", "10", in.string(), o});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("SNR 6.69 dB in 3000 Hz, Eb/N0 10.00 dB"), std::string::npos) << r.out;
    r = invoke({"--snr=3", "--fading=poor", in.string(), o});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("SNR 3.00 dB in 3000 Hz, Eb/N0 6.31 dB"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("fading poor (2 ms, 1 Hz)"), std::string::npos) << r.out;
    r = invoke({in.string(), o});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("no noise"), std::string::npos) << r.out;
    EXPECT_EQ(invoke({"--help"}).status, 0);
}

}  // namespace
}  // namespace tarpo::sim
