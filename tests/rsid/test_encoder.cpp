// The burst as transmitted: the rsid_encode / rsid_get contract, level, click-free edges,
// continuous phase and the tone of every symbol.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "external/rsid.h"
#include "rsid/burst.h"
#include "rsid/burst_encoder.h"

namespace tarpo::rsid {
namespace {

constexpr int block = 1920;
constexpr double full_level = 0.7 * 32767.0;
// 15 symbols of 1024 samples at 11025 Hz, at 48000 Hz: 66873.5 samples, 35 blocks.
constexpr int burst_samples_48k = 66873;
constexpr int burst_blocks = (burst_samples_48k + block - 1) / block;

// Collects the burst through the C entries, block by block, until rsid_get returns zero.
std::vector<double> burst_from_c_entries(double f0, int* blocks) {
    rsid_encode(f0);
    std::vector<double> out;
    std::array<short, block> b{};
    *blocks = 0;
    while (rsid_get(b.data()) != 0) {
        ++*blocks;
        out.insert(out.end(), b.begin(), b.end());
        if (*blocks > 1000) break;  // a burst that never ends
    }
    return out;
}

TEST(RsidEncoder, GetReturnsNonzeroForTheBurstThenZeroWritingNothing) {
    init_rsid();
    std::array<short, block> b;
    b.fill(1234);
    EXPECT_EQ(rsid_get(b.data()), 0) << "no burst prepared yet";
    EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](short v) { return v == 1234; }));

    int blocks = 0;
    const auto x = burst_from_c_entries(1500.0, &blocks);
    EXPECT_EQ(blocks, burst_blocks);
    b.fill(1234);
    EXPECT_EQ(rsid_get(b.data()), 0);
    EXPECT_EQ(rsid_get(b.data()), 0);
    EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](short v) { return v == 1234; }));
    // The last block holds the end of the burst, then silence.
    ASSERT_EQ(x.size(), static_cast<std::size_t>(burst_blocks * block));
    EXPECT_TRUE(
        std::all_of(x.begin() + burst_samples_48k, x.end(), [](double v) { return v == 0; }));

    // A new rsid_encode restarts, also in the middle of a burst.
    rsid_encode(1000.0);
    for (int i = 0; i < 10; ++i) ASSERT_NE(rsid_get(b.data()), 0);
    int again = 0;
    burst_from_c_entries(1200.0, &again);
    EXPECT_EQ(again, burst_blocks);

    // init_rsid abandons a burst in progress.
    rsid_encode(1500.0);
    ASSERT_NE(rsid_get(b.data()), 0);
    init_rsid();
    EXPECT_EQ(rsid_get(b.data()), 0);
}

TEST(RsidEncoder, LevelEdgesAndContinuousPhase) {
    init_rsid();
    for (double f0 : {400.0, 1500.0, 2700.0}) {
        int blocks = 0;
        const auto x = burst_from_c_entries(f0, &blocks);
        double peak = 0.0;
        for (double v : x) peak = std::max(peak, std::abs(v));
        // Truncation to 16 bits loses less than one unit.
        EXPECT_LE(peak, full_level);
        EXPECT_GE(peak, full_level - 1.0);

        // The ends rise and fall over 5 ms (240 samples): the first and last samples are
        // near zero, full level is reached only after the ramp.
        EXPECT_LT(std::abs(x[0]), 0.01 * full_level);
        EXPECT_LT(std::abs(x[burst_samples_48k - 1]), 0.01 * full_level);
        double early = 0.0, late = 0.0;
        for (int i = 0; i < 48; ++i) early = std::max(early, std::abs(x[i]));
        for (int i = 0; i < 48; ++i) late = std::max(late, std::abs(x[burst_samples_48k - 1 - i]));
        EXPECT_LT(early, 0.15 * full_level);  // 1 ms into a 5 ms raised-cosine rise: 0.095
        EXPECT_LT(late, 0.15 * full_level);

        // Continuous phase: no step between neighbours exceeds what the highest tone's
        // slope allows (2 pi f A / fs), plus one unit for the 16-bit truncation. A phase jump
        // of 0.3 rad anywhere would already exceed it at these frequencies.
        const double f_max = f0 + 8 * tone_spacing;
        const double max_step = 2.0 * std::numbers::pi * f_max * full_level / 48000.0 + 1.0;
        for (int i = 1; i < burst_samples_48k; ++i) {
            ASSERT_LE(std::abs(x[i] - x[i - 1]), max_step) << "f0 " << f0 << " sample " << i;
        }
    }
}

// Each symbol's tone, found by a slow direct DFT at the 16 tone frequencies over the middle
// of the symbol (its first and last 5 % left out, as the boundaries are a sample uncertain).
TEST(RsidEncoder, EverySymbolCarriesItsCodewordTone) {
    const double f0 = 1234.5;
    Encoder enc(48000.0, 1000.0);
    enc.start(f0);
    std::vector<double> x(static_cast<std::size_t>(enc.length()));
    enc.generate(x.data(), x.size());
    const double symbol = 1024 * 48000.0 / 11025.0;
    for (int s = 0; s < code_length; ++s) {
        const int from = static_cast<int>(std::ceil((s + 0.05) * symbol));
        const int to = static_cast<int>((s + 0.95) * symbol);
        int best = -1;
        double best_mag = 0.0;
        for (int t = 0; t < tone_count; ++t) {
            const double w = 2.0 * std::numbers::pi * (f0 + (t - 7) * tone_spacing) / 48000.0;
            std::complex<double> acc = 0.0;
            for (int n = from; n < to; ++n) acc += x[n] * std::polar(1.0, -w * n);
            if (std::abs(acc) > best_mag) {
                best_mag = std::abs(acc);
                best = t;
            }
        }
        EXPECT_EQ(best, tarpo_codeword[s]) << "symbol " << s;
        // A steady tone of amplitude 1000 over the window: |sum| = 1000 N / 2.
        EXPECT_NEAR(best_mag, 500.0 * (to - from), 0.01 * 500.0 * (to - from));
    }
}

TEST(RsidEncoder, FrequencyIsKeptInsideTheBand) {
    Encoder enc(48000.0, 1000.0);
    enc.start(std::nan(""));
    EXPECT_EQ(enc.frequency(), 1500.0);
    enc.start(1e9);
    EXPECT_EQ(enc.frequency(), highest_f0);
    enc.start(-50.0);
    EXPECT_EQ(enc.frequency(), lowest_f0);
    enc.start(1777.7);
    EXPECT_EQ(enc.frequency(), 1777.7);
    // Burst length at other rates: 15 symbols of 92.88 ms.
    EXPECT_EQ(Encoder(6000.0, 1.0).length(), 8359);  // 15 x 557.28
    EXPECT_EQ(Encoder(48000.0, 1.0).length(), burst_samples_48k);
}

TEST(RsidEncoder, RejectsNonsenseConstruction) {
    EXPECT_THROW(Encoder(0.0, 1.0), std::invalid_argument);
    EXPECT_THROW(Encoder(48000.0, 0.0), std::invalid_argument);
    EXPECT_THROW(Encoder(48000.0, std::nan("")), std::invalid_argument);
    EXPECT_THROW(Encoder(48000.0, 1.0, 1.0), std::invalid_argument);
}

}  // namespace
}  // namespace tarpo::rsid
