#include "codec/quantiser.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>

namespace tarpo::codec {
namespace {

TEST(GrayCode, NeighboursDifferInOneBitAndDecodingInverts) {
    for (unsigned bits = 1; bits <= 7; ++bits) {
        const unsigned n = 1u << bits;
        std::vector<bool> seen(n, false);
        for (unsigned i = 0; i < n; ++i) {
            const unsigned g = gray_encode(i);
            ASSERT_LT(g, n);
            EXPECT_FALSE(seen[g]) << "not a permutation of " << bits << "-bit codes";
            seen[g] = true;
            EXPECT_EQ(gray_decode(g), i);
            if (i + 1 < n) {
                EXPECT_EQ(std::popcount(g ^ gray_encode(i + 1)), 1);
            }
        }
    }
}

TEST(FramePacking, RoundTripsEveryFieldAndUsesOnlyBitZero) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 500; ++trial) {
        FrameIndices f;
        f.energy = {int(rng() % 32), int(rng() % 32)};
        f.pitch = int(rng() % 128);
        f.voiced = {int(rng() % voicing_levels), int(rng() % voicing_levels)};
        for (std::size_t i = 0; i < lpc_order; ++i) f.lsf[i] = int(rng() % lsf_levels(i));
        std::array<std::uint8_t, frame_bits> bits{};
        pack_frame(f, bits);
        for (auto b : bits) ASSERT_LE(b, 1);
        EXPECT_EQ(unpack_frame(bits), f);
        // The receiver may deliver higher bits set; only bit 0 counts.
        for (auto& b : bits) b |= static_cast<std::uint8_t>(rng() & 0xFE);
        EXPECT_EQ(unpack_frame(bits), f);
    }
}

TEST(FramePacking, ParityCatchesEveryOneBitErrorInEnergyPitchAndVoicing) {
    FrameIndices f;
    f.energy = {17, 22};
    f.pitch = 77;
    f.voiced = {3, 1};
    std::array<std::uint8_t, frame_bits> bits{};
    pack_frame(f, bits);
    EXPECT_TRUE(unpack_frame(bits).intact);
    int caught = 0;
    for (std::size_t i = 0; i < frame_bits; ++i) {
        auto bad = bits;
        bad[i] ^= 1;
        const FrameIndices g = unpack_frame(bad);
        if (g.intact) continue;
        ++caught;
        // Only errors in the fields that matter most, or in the parity bit itself.
        const bool covered = g.energy != f.energy || g.pitch != f.pitch || g.voiced != f.voiced;
        EXPECT_TRUE(covered || i == frame_bits - 1) << "bit " << i;
    }
    EXPECT_EQ(caught, 15);  // 3 + 3 energy, 4 pitch, 4 voicing, the parity bit
}

TEST(FramePacking, AllZeroFrameIsSilence) {
    std::array<std::uint8_t, frame_bits> bits{};
    const FrameIndices f = unpack_frame(bits);
    EXPECT_EQ(f.energy[0], 0);
    EXPECT_EQ(f.energy[1], 0);
}

TEST(EnergyQuantiser, LevelsRoundTripAndErrorIsAtMostHalfAStep) {
    const double step = (energy_max_db - energy_min_db) / 30.0;
    for (int i = 1; i < 32; ++i) EXPECT_EQ(energy_index(energy_db(i)), i);
    for (double db = energy_min_db; db <= energy_max_db; db += 0.37)
        EXPECT_LE(std::abs(energy_db(energy_index(db)) - db), 0.5 * step + 1e-9) << db;
    EXPECT_EQ(energy_index(-140.0), 0);
    EXPECT_EQ(energy_index(std::nan("")), 0);
    EXPECT_EQ(energy_index(+20.0), 31);  // louder than the top level saturates
    EXPECT_TRUE(std::isinf(energy_db(0)));
}

TEST(PitchQuantiser, RelativeErrorIsBelowOnePercentOverTheRange) {
    // 128 log-spaced levels over three octaves are 1.65 % apart: half of that is the bound.
    for (int i = 0; i < 128; ++i) EXPECT_EQ(pitch_index(pitch_hz(i)), i);
    for (double hz = pitch_min; hz <= pitch_max; hz *= 1.003)
        EXPECT_LT(std::abs(pitch_hz(pitch_index(hz)) / hz - 1.0), 0.0083) << hz;
    EXPECT_EQ(pitch_index(10.0), 0);
    EXPECT_EQ(pitch_index(5000.0), 127);
}

TEST(LsfQuantiser, TablesRiseAndQuantisingPicksTheNearestLevel) {
    for (std::size_t i = 0; i < lpc_order; ++i) {
        ASSERT_EQ(lsf_levels(i), std::size_t{1} << lsf_bits[i]);
        for (int k = 1; k < static_cast<int>(lsf_levels(i)); ++k)
            EXPECT_LT(lsf_value(i, k - 1), lsf_value(i, k)) << "table " << i;
        for (int k = 0; k < static_cast<int>(lsf_levels(i)); ++k)
            EXPECT_EQ(lsf_index(i, lsf_value(i, k)), k);
        // Any frequency maps to a level no farther than any other level.
        for (double w = 0.01; w < pi; w += 0.013) {
            const double got = std::abs(lsf_value(i, lsf_index(i, w)) - w);
            for (int k = 0; k < static_cast<int>(lsf_levels(i)); ++k)
                EXPECT_LE(got, std::abs(lsf_value(i, k) - w) + 1e-12);
        }
    }
    // Out-of-range indices (a damaged frame) are clamped, not read past the table.
    EXPECT_EQ(lsf_value(0, 99), lsf_value(0, static_cast<int>(lsf_levels(0)) - 1));
    EXPECT_EQ(lsf_value(0, -3), lsf_value(0, 0));
}

}  // namespace
}  // namespace tarpo::codec
