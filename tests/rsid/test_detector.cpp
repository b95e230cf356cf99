// Recognising bursts: the resampler in front of the detector, detection across the band from
// silence and noise, once per burst, other modes and hostile input, and the C entries.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "external/rsid.h"
#include "rsid/detector.h"
#include "rsid/resampler.h"
#include "signals.h"

namespace tarpo::rsid {
namespace {

using test::burst;
using test::decimate_by_8;
using test::embed;
using test::run;

// --- Resampler -----------------------------------------------------------------------------

// A sine through the resampler, over several blocks, against the ideal: the same sine at
// 11025 Hz delayed by the filter's half length (1175.5 samples at 882 kHz). Low tones only:
// their images (6000 - f >= 5500 Hz) lie in the stopband, so the output is the ideal sine
// alone and any error at the block boundaries would show.
TEST(RsidResampler, ReproducesLowTonesExactlyAcrossBlocks) {
    Resampler r;
    constexpr double delay = 1175.5 / 882000.0;  // s
    for (double f : {300.0, 450.0}) {
        r.reset();
        std::array<double, Resampler::input_block> in{};
        std::array<double, Resampler::output_block> out{};
        double worst = 0.0;
        for (int blk = 0; blk < 5; ++blk) {
            for (int i = 0; i < Resampler::input_block; ++i) {
                const double t = (blk * Resampler::input_block + i) / 6000.0;
                in[i] = 1000.0 * std::sin(2.0 * std::numbers::pi * f * t);
            }
            r.process(in.data(), out.data());
            if (blk == 0) continue;  // the filter starts from silence
            for (int m = 0; m < Resampler::output_block; ++m) {
                const double t = (blk * Resampler::output_block + m) / 11025.0 - delay;
                const double ideal = 1000.0 * std::sin(2.0 * std::numbers::pi * f * t);
                worst = std::max(worst, std::abs(out[m] - ideal));
            }
        }
        // 80 dB stopband and passband ripple of the same order: 1e-3 of the amplitude
        // leaves a margin of ten.
        EXPECT_LT(worst, 1.0) << f << " Hz";
    }
}

// Across the analysed band the level is flat: the component at the input frequency keeps
// its amplitude (a correlation over whole output blocks picks it out from the images).
TEST(RsidResampler, FlatAcrossTheBand) {
    Resampler r;
    for (double f : {300.0, 1000.0, 2000.0, 2800.0}) {
        r.reset();
        std::array<double, Resampler::input_block> in{};
        std::array<double, Resampler::output_block> out{};
        std::complex<double> acc = 0.0;
        for (int blk = 0; blk < 4; ++blk) {
            for (int i = 0; i < Resampler::input_block; ++i) {
                in[i] = std::sin(2.0 * std::numbers::pi * f * (blk * 960 + i) / 6000.0);
            }
            r.process(in.data(), out.data());
            if (blk == 0) continue;
            for (int m = 0; m < Resampler::output_block; ++m) {
                const double t = (blk * Resampler::output_block + m) / 11025.0;
                acc += out[m] * std::polar(1.0, -2.0 * std::numbers::pi * f * t);
            }
        }
        // 3 blocks of 160 ms hold whole cycles of every test tone only approximately; the
        // leakage of the images and the negative frequency stays below 0.2 %.
        EXPECT_NEAR(2.0 * std::abs(acc) / (3 * Resampler::output_block), 1.0, 0.005) << f;
    }
}

// --- Detection ----------------------------------------------------------------------------

class RsidDetector : public ::testing::Test {
  protected:
    std::unique_ptr<Detector> det = std::make_unique<Detector>();
};

// The burst made at 48000 Hz, brought to 6000 Hz as the receiver does, at every 25 Hz from
// 600 to 2400 Hz, at a random start, from silence and from noise 6 dB above the burst in
// 3 kHz: each found once, within 3 Hz (the accuracy that the retuning needs).
TEST_F(RsidDetector, FindsEveryFrequencyOnceFromSilenceAndNoise) {
    std::mt19937_64 rng(6);
    for (int step = 0; step <= 72; ++step) {
        const double f0 = 600.0 + 25.0 * step;
        const auto b = decimate_by_8(burst(f0, 48000.0));
        const double noise_sd = std::sqrt(test::power(b) * std::pow(10.0, 0.6));
        for (double sd : {0.0, noise_sd}) {
            const std::size_t lead = 2000 + rng() % 4000;
            const auto x = embed(b, lead, 24000, sd, rng);  // 4 s after the burst
            det->reset();
            const auto found = run(*det, x);
            ASSERT_EQ(found.size(), 1u) << f0 << " Hz, noise " << sd;
            EXPECT_NEAR(found[0].freq, f0, 3.0) << "noise " << sd;
            // Reported within half a second of the burst's end.
            const double end_s = (lead + b.size()) / 6000.0;
            EXPECT_LT((found[0].call + 1) * 0.16 - end_s, 0.5);
        }
    }
}

// Within one bin the frequency is interpolated: the three-point vertex on the window's main
// lobe is biased by far less than a tenth of a bin (0.54 Hz).
TEST_F(RsidDetector, InterpolatesBetweenBins) {
    std::mt19937_64 rng(1);
    for (double f0 = 1500.0; f0 < 1500.0 + 2 * Detector::bin_hz; f0 += 0.7) {
        det->reset();
        const auto found = run(*det, embed(burst(f0, 6000.0), 1000, 6000, 0.0, rng));
        ASSERT_EQ(found.size(), 1u) << f0;
        EXPECT_NEAR(found[0].freq, f0, 0.1 * Detector::bin_hz) << f0;
    }
}

TEST_F(RsidDetector, BurstsBackToBackAreEachReportedOnce) {
    std::mt19937_64 rng(2);
    auto a = burst(1000.0, 6000.0);
    const auto b = burst(1800.0, 6000.0);
    const auto c = burst(1800.0, 6000.0);
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), c.begin(), c.end());
    const auto found = run(*det, embed(a, 3000, 12000, 0.0, rng));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_NEAR(found[0].freq, 1000.0, 3.0);
    EXPECT_NEAR(found[1].freq, 1800.0, 3.0);
    EXPECT_NEAR(found[2].freq, 1800.0, 3.0);
}

TEST_F(RsidDetector, BandEdgesAndOtherModes) {
    std::mt19937_64 rng(3);
    for (double f0 : {lowest_f0, highest_f0}) {
        det->reset();
        const auto found = run(*det, embed(burst(f0, 6000.0), 1500, 6000, 0.0, rng));
        ASSERT_EQ(found.size(), 1u) << f0;
        EXPECT_NEAR(found[0].freq, f0, 3.0);
    }
    // Another station's identifier (any other mode) is not ours; a detector built for that
    // mode finds it, so the burst itself was fine.
    Encoder other(6000.0, 20000.0, 0.005, encode_mode(620));
    other.start(1500.0);
    std::vector<double> y(static_cast<std::size_t>(other.length()));
    other.generate(y.data(), y.size());
    const auto x = embed(y, 1500, 6000, 0.0, rng);
    det->reset();
    EXPECT_TRUE(run(*det, x).empty());
    auto theirs = std::make_unique<Detector>(encode_mode(620));
    EXPECT_EQ(run(*theirs, x).size(), 1u);
}

// Hostile input: non-numbers, infinities, absurd magnitudes, full-scale square waves and
// clicks report nothing and do not stop the detector from finding the next real burst.
TEST_F(RsidDetector, HostileInputNeitherTriggersNorJams) {
    std::mt19937_64 rng(4);
    std::vector<double> junk;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 6000; ++i) junk.push_back(nan);
    for (int i = 0; i < 6000; ++i) junk.push_back(i % 2 ? inf : -inf);
    for (int i = 0; i < 6000; ++i) junk.push_back(i % 3 ? 1e300 : -1e308);
    for (int i = 0; i < 12000; ++i) junk.push_back((i / 3) % 2 ? 32767.0 : -32768.0);
    for (int i = 0; i < 12000; ++i) junk.push_back(i % 997 == 0 ? 32767.0 : 0.0);
    std::uniform_real_distribution<double> u(-1e6, 1e6);
    for (int i = 0; i < 30000; ++i) junk.push_back(i % 5 == 0 ? nan : u(rng));
    // Noise sprinkled with non-numbers over a real burst: the non-numbers count as zero.
    auto b = embed(burst(2000.0, 6000.0), 3000, 6000, 1000.0, rng);
    for (std::size_t i = 0; i < b.size(); i += 211) b[i] = nan;
    junk.insert(junk.end(), b.begin(), b.end());

    const auto found = run(*det, junk);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NEAR(found[0].freq, 2000.0, 3.0);
    EXPECT_GT(found[0].call * 960, static_cast<int>(junk.size() - b.size()));
}

// Through the C entries, at 48 kHz from rsid_get to 6000 Hz into rsid_check, as the
// program's transmitter and receiver would.
TEST(RsidCEntries, RoundTrip) {
    init_rsid();
    rsid_encode(1234.5);
    std::vector<double> x48(48000, 0.0);  // one second of silence first
    std::array<short, 1920> blk{};
    while (rsid_get(blk.data())) x48.insert(x48.end(), blk.begin(), blk.end());
    x48.resize(x48.size() + 3 * 48000, 0.0);
    const auto x = decimate_by_8(x48);
    int reports = 0;
    for (std::size_t s = 0; s + 960 <= x.size(); s += 960) reports += rsid_check(&x[s]) != 0;
    EXPECT_EQ(reports, 1);
    EXPECT_NEAR(getrsfreq(), 1234.5, 3.0);
}

}  // namespace
}  // namespace tarpo::rsid
