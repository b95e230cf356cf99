// Speech through the whole voice path: at high SNR the modem must not cost intelligibility,
// so the decoded speech scores the same STOI as the codec alone.
#include "app/speech_path.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>

#include "bench/quality/quality.h"
#include "external/codec.h"

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

}  // namespace
