#include "bench/quality/quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "signals.h"

namespace tarpo::quality {
namespace test = tarpo::codec::test;
namespace {

// Two seconds of a speech-like signal at 8 kHz: syllables of different vowels and pitches,
// 200 ms each with a raised-cosine envelope, separated by 60 ms pauses.
std::vector<double> syllables() {
    const std::array<std::array<double, 3>, 5> vowels = {{{700, 1220, 2600},
                                                          {300, 2300, 3000},
                                                          {500, 900, 2400},
                                                          {400, 2000, 2550},
                                                          {650, 1700, 2500}}};
    std::vector<double> x;
    for (int s = 0; s < 8; ++s) {
        auto v =
            test::vowel(100.0 + 15.0 * s, vowels[s % vowels.size()], 1600, -20.0 + 2.0 * (s % 3));
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] *= 0.5 - 0.5 * std::cos(2 * test::test_pi * i / v.size());
        x.insert(x.end(), v.begin(), v.end());
        x.insert(x.end(), 480, 0.0);
    }
    return x;
}

std::vector<double> plus(std::vector<double> a, const std::vector<double>& b, double gain) {
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += gain * b[i];
    return a;
}

TEST(Stoi, IdenticalSignalsScoreOneAndLevelDoesNotMatter) {
    const auto x = syllables();
    EXPECT_NEAR(stoi(x, x, 8000.0), 1.0, 1e-9);
    auto quieter = x;
    for (double& v : quieter) v *= 0.1;
    // Each segment is normalised to the clean one's energy, so a pure gain changes nothing.
    EXPECT_NEAR(stoi(x, quieter, 8000.0), 1.0, 1e-6);
}

TEST(Stoi, UnrelatedSignalsScoreLow) {
    // Not zero: the clipping at -15 dB signal-to-distortion makes any envelope follow the
    // clean one wherever that is more than 16 dB below its segment's level (syllable edges),
    // which gives unrelated signals a floor of about 0.3-0.4 on strongly modulated speech.
    const auto x = syllables();
    const auto n = test::white_noise(x.size(), 0.05, 21);
    EXPECT_LT(stoi(x, n, 8000.0), 0.45);
    // Another talker: the same syllables, shifted by half a syllable.
    std::vector<double> other(x.begin() + 1040, x.end());
    other.insert(other.end(), x.begin(), x.begin() + 1040);
    EXPECT_LT(stoi(x, other, 8000.0), 0.45);
}

TEST(Stoi, FallsMonotonicallyAsNoiseRises) {
    const auto x = syllables();
    const auto n = test::white_noise(x.size(), 0.1, 8);  // -20 dBFS, about the speech level
    double last = 1.0;
    for (const double snr : {30.0, 15.0, 5.0, 0.0, -5.0, -10.0}) {
        const double s = stoi(x, plus(x, n, std::pow(10.0, -snr / 20.0)), 8000.0);
        EXPECT_LT(s, last) << "SNR " << snr;
        last = s;
    }
    EXPECT_LT(last, 0.6);  // at -10 dB SNR little is left
}

TEST(Stoi, TooShortInputGivesZero) {
    const std::vector<double> x(1000, 0.01);  // 125 ms: fewer than 30 frames
    EXPECT_EQ(stoi(x, x, 8000.0), 0.0);
    EXPECT_EQ(stoi({}, {}, 8000.0), 0.0);
}

TEST(MelCepstralDistortion, ZeroForIdenticalOrRescaledSignalsAndGrowsWithDamage) {
    const auto x = syllables();
    EXPECT_NEAR(mel_cepstral_distortion(x, x, 8000.0), 0.0, 1e-9);
    auto louder = x;
    for (double& v : louder) v *= 3.0;
    // Level lives in c0, which is left out; only the floor term moves a little.
    EXPECT_LT(mel_cepstral_distortion(x, louder, 8000.0), 0.05);
    const auto n = test::white_noise(x.size(), 0.1, 8);
    const double mild = mel_cepstral_distortion(x, plus(x, n, 0.1), 8000.0);
    const double strong = mel_cepstral_distortion(x, plus(x, n, 1.0), 8000.0);
    EXPECT_GT(mild, 0.5);
    EXPECT_GT(strong, mild);
}

TEST(WarpQ, ZeroForIdenticalSignalsTolerantOfTimingAndGrowsWithNoise) {
    const auto x = syllables();
    EXPECT_NEAR(warp_q(x, x, 8000.0), 0.0, 1e-9);
    // A vocoder's small timing differences cost little; noise costs more, and more noise more.
    std::vector<double> late(96, 0.0);
    late.insert(late.end(), x.begin(), x.end() - 96);
    const auto n = test::white_noise(x.size(), 0.1, 8);
    const double timing = warp_q(x, late, 8000.0);
    const double mild = warp_q(x, plus(x, n, 0.1), 8000.0);
    const double strong = warp_q(x, plus(x, n, 1.0), 8000.0);
    EXPECT_LT(timing, 0.5 * mild);
    EXPECT_GT(strong, mild);
    EXPECT_TRUE(std::isnan(warp_q(x, std::vector<double>(1000, 0.0), 8000.0)));
}

TEST(HighBandPeriodicity, OneForTheOriginalAboveOneForABuzzyCopy) {
    // Real voiced speech is noisy in the top band: a vowel plus noise above 2.5 kHz. The
    // vocoder that drops the noise and keeps harmonics up there buzzes.
    const auto vowel = test::vowel(120.0, {700, 1220, 2600}, 8000, -20.0);
    auto hiss = test::white_noise(vowel.size(), 0.002, 3);
    for (int pass = 0; pass < 4; ++pass)  // a crude high-pass: successive differences
        for (std::size_t i = hiss.size() - 1; i > 0; --i) hiss[i] -= hiss[i - 1];
    const auto real = plus(vowel, hiss, 1.0);
    EXPECT_NEAR(high_band_periodicity(real, real, 8000.0), 1.0, 1e-9);
    EXPECT_GT(high_band_periodicity(real, vowel, 8000.0), 1.3);
    EXPECT_LT(high_band_periodicity(real, plus(vowel, hiss, 2.0), 8000.0), 1.0);
}

TEST(Alignment, FindsAKnownDelay) {
    const auto x = syllables();
    for (const std::size_t delay : {0u, 37u, 200u, 1111u}) {
        std::vector<double> y(delay, 0.0);
        y.insert(y.end(), x.begin(), x.end());
        const std::size_t got = envelope_delay(x, y, 4000);
        // The envelope moves in steps of 4 samples.
        EXPECT_LE(std::abs(static_cast<long>(got) - static_cast<long>(delay)), 4) << delay;
        auto ref = x;
        align(ref, y, got);
        EXPECT_EQ(ref.size(), y.size());
    }
}

}  // namespace
}  // namespace tarpo::quality
