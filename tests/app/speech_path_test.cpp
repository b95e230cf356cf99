// Speech through the whole voice path: at high SNR the modem must not cost intelligibility,
// so the decoded speech scores the same STOI as the codec alone.
#include "app/speech_path.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <random>

#include "bench/quality/quality.h"
#include "engine/passes.h"
#include "external/codec.h"
#include "sim/channel.h"

namespace {

using namespace tarpo::quality;

std::vector<double> read_8k(const char* path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (!f) return {};
    std::vector<double> x(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(f, x.data(), info.frames);
    sf_close(f);
    std::vector<double> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = x[i * static_cast<std::size_t>(info.channels)];
    auto y = resample(mono, info.samplerate, 8000.0);
    const double peak =
        std::max(1e-9, std::abs(*std::max_element(y.begin(), y.end(), [](double a, double b) {
                     return std::abs(a) < std::abs(b);
                 })));
    for (double& v : y) v *= 0.708 / peak;  // peaks at -3 dBFS
    return y;
}

std::vector<double> codec_alone(const std::vector<double>& x) {
    ana_init();
    syn_init();
    std::vector<double> out;
    std::array<short, 320> in{};
    std::array<short, 320> decoded{};
    std::array<unsigned char, 56> bits{};
    for (std::size_t at = 0; at < x.size() + 4000; at += 320) {
        for (std::size_t i = 0; i < 320; ++i)
            in[i] = at + i < x.size() ? static_cast<short>(x[at + i] * 32767) : 0;
        encode(in.data(), bits.data());
        decode(bits.data(), decoded.data());
        for (short v : decoded) out.push_back(v / 32768.0);
    }
    return out;
}

double score(const std::vector<double>& clean, const std::vector<double>& decoded) {
    std::vector<double> ref = clean;
    std::vector<double> deg = decoded;
    align(ref, deg, envelope_delay(clean, decoded, 4000));
    return stoi(ref, deg, 8000.0);
}

TEST(SpeechPath, ModemAtHighSnrKeepsTheCodecsIntelligibility) {
    const char* path = "/usr/share/sounds/alsa/Front_Center.wav";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " missing (alsa-utils)";
    // Half a second of silence first: the receiver's acquisition (its first frames are
    // noise, and the frame sync may still step once) falls before the speech.
    auto x = read_8k(path);
    ASSERT_GT(x.size(), 8000u);
    x.insert(x.begin(), 4000, 0.0);
    const double alone = score(x, codec_alone(x));
    const double through = score(x, tarpo::app::speech_through_modem(x, 30.0, 1));
    EXPECT_GT(alone, 0.8);
    // Within 0.02: the modem's bits arrive without error at 30 dB; what remains is the
    // alignment of frames against the speech and the rate converters around the codec.
    EXPECT_NEAR(through, alone, 0.02);
}

// A station that stops in the middle of a word on a fading path, then only noise: the enhanced
// receiver's soft decoding carries on through its squelch for a bounded time, but what it plays
// after the signal is gone is the speech fading out, never noise made into sound.
TEST(SpeechPath, NothingIsHeardAfterTheStationStops) {
    const char* path = "/usr/share/sounds/alsa/Front_Center.wav";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " missing (alsa-utils)";
    auto x = read_8k(path);
    x.insert(x.begin(), 4000, 0.0);
    auto signal = tarpo::app::transmit_speech(x);
    constexpr std::size_t block = 1920;
    const std::size_t cut = 22 * block;  // 0.88 s: in the first word
    ASSERT_LT(cut, signal.size());
    signal.resize(cut);
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        tarpo::sim::ChannelSettings channel;
        channel.snr_db = 9.0;
        channel.fading = tarpo::sim::Fading::moderate;
        channel.seed = seed;
        auto heard = tarpo::sim::simulate_channel(signal, channel, 48000.0);
        std::mt19937_64 rng(seed);
        std::normal_distribution<double> noise(0.0, std::sqrt(heard.noise_power));
        for (std::size_t i = 0; i < 150 * block; ++i) heard.samples.push_back(noise(rng));
        const auto out = tarpo::app::receive_speech(heard.samples, true);
        // Block levels (dB full scale, 40 ms at 8 kHz) before and after the moment the
        // signal's end comes out (about 0.3 s after it leaves: receiver and decoder delay).
        const auto level = [&](std::size_t at) {
            double e = 0.0;
            for (std::size_t i = 0; i < 320; ++i) e += out[at + i] * out[at + i];
            return e > 0.0 ? 10.0 * std::log10(e / 320.0) : -INFINITY;
        };
        const std::size_t end = cut / 6 + 2400;
        ASSERT_GT(out.size(), end + 100 * 320);
        double speech = -INFINITY;
        for (std::size_t at = end - 10 * 320; at < end; at += 320)
            speech = std::max(speech, level(at));
        EXPECT_GT(speech, -25.0) << "seed " << seed;  // cut in the middle of a word
        double before = speech;
        for (std::size_t k = 0; k < 100; ++k) {
            const double l = level(end + k * 320);
            if (k >= tarpo::engine::Passes::bridge_frames + 2) {
                EXPECT_EQ(l, -INFINITY) << "seed " << seed << ", block " << k;
                continue;
            }
            EXPECT_LT(l, speech - 25.0) << "seed " << seed << ", block " << k;
            EXPECT_LT(l, std::max(before, -60.0) + 3.0) << "seed " << seed << ", block " << k;
            before = l;
        }
    }
}

}  // namespace
