#include "codec/quantiser.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        for (const Field& field : frame_fields)
            field_index(f, field) = static_cast<int>(rng() % (1u << field.bits));

        std::array<std::uint8_t, frame_bits> bits{};
        pack_frame(f, bits.data());
        for (auto b : bits) ASSERT_LE(b, 1);
        EXPECT_EQ(unpack_frame(bits.data()), f);
        // The receiver may deliver higher bits set; only bit 0 counts.
        for (auto& b : bits) b |= static_cast<std::uint8_t>(rng() & 0xFE);
        EXPECT_EQ(unpack_frame(bits.data()), f);
    }
}

TEST(FramePacking, FieldsTileTheFrameAndOneWrongBitFailsTheChecksOfItsColumn) {
    std::vector<unsigned> column(frame_bits, 0);
    std::vector<int> sharing(1u << parity_bits, 0);
    int at = 0;
    for (const Field& field : frame_fields) {
        EXPECT_EQ(field.first_bit, at);
        for (int b = 0; b < field.bits; ++b) {
            const unsigned c = field.column[static_cast<std::size_t>(b)];
            column[static_cast<std::size_t>(at + b)] = c;
            ++sharing[c];
        }
        at += field.bits;
    }
    // The covered bits spread evenly over every column.
    const auto [fewest, most] = std::minmax_element(sharing.begin() + 1, sharing.end());
    EXPECT_LE(*most - *fewest, 1);
    EXPECT_EQ(at + parity_bits, static_cast<int>(frame_bits));
    std::mt19937 rng(3);
    FrameIndices f;
    for (const Field& field : frame_fields)
        field_index(f, field) = static_cast<int>(rng() % (1u << field.bits));
    std::array<std::uint8_t, frame_bits> bits{};
    pack_frame(f, bits.data());
    ASSERT_EQ(unpack_frame(bits.data()).syndrome, 0u);
    for (std::size_t i = 0; i < frame_bits; ++i) {
        auto bad = bits;
        bad[i] ^= 1;
        const unsigned expected = i >= parity_position ? 1u << (i - parity_position) : column[i];
        EXPECT_EQ(unpack_frame(bad.data()).syndrome, expected) << "bit " << i;
    }
}

TEST(FramePacking, AllZeroFrameIsSilence) {
    std::array<std::uint8_t, frame_bits> bits{};
    const FrameIndices f = unpack_frame(bits.data());
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

TEST(PitchQuantiser, RelativeErrorIsHalfAStepOverTheRange) {
    // 64 log-spaced levels over three octaves are 3.36 % apart: half of that is the bound.
    const int top = (1 << pitch_bits) - 1;
    for (int i = 0; i <= top; ++i) EXPECT_EQ(pitch_index(pitch_hz(i)), i);
    for (double hz = pitch_min; hz <= pitch_max; hz *= 1.003)
        EXPECT_LT(std::abs(pitch_hz(pitch_index(hz)) / hz - 1.0), 0.0168) << hz;
    EXPECT_EQ(pitch_index(10.0), 0);
    EXPECT_EQ(pitch_index(5000.0), top);
}

TEST(LsfQuantiser, CodebooksMatchTheLayoutAndQuantisingPicksTheNearestEntries) {
    for (std::size_t g = 0; g < lsf_groups; ++g)
        ASSERT_EQ(lsf_entries(g), std::size_t{1} << lsf_bits[g]);
    for (std::size_t g = 0; g < lsf_mid_groups; ++g)
        ASSERT_EQ(lsf_mid_entries(g), std::size_t{1} << lsf_mid_bits[g]);
    // Every entry quantises to itself; a set between entries goes to no worse an entry than any
    // other (against a plain search over the whole codebook, with the same weights).
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.02, pi - 0.02);
    for (int trial = 0; trial < 50; ++trial) {
        Lsf x{};
        for (auto& w : x) w = u(rng);
        std::sort(x.begin(), x.end());
        const auto idx = quantise_lsf(x);
        const Lsf q = dequantise_lsf(idx);
        for (std::size_t g = 0; g < lsf_groups; ++g) {
            auto err = [&](const Lsf& l) {
                double e = 0.0;
                for (std::size_t i = lsf_first[g]; i < lsf_first[g + 1]; ++i) {
                    const double below = x[i] - (i ? x[i - 1] : 0.0);
                    const double above = (i + 1 < lpc_order ? x[i + 1] : pi) - x[i];
                    const double w = 1.0 / std::max(below, 0.01) + 1.0 / std::max(above, 0.01);
                    e += w * (l[i] - x[i]) * (l[i] - x[i]);
                }
                return e;
            };
            for (int k = 0; k < static_cast<int>(lsf_entries(g)); ++k) {
                auto other = idx;
                other[g] = k;
                EXPECT_LE(err(q), err(dequantise_lsf(other)) + 1e-12);
            }
        }
    }
    std::array<int, lsf_groups> idx{};
    idx[0] = 5;
    EXPECT_EQ(quantise_lsf(dequantise_lsf(idx))[0], 5);
    // A middle set exactly between its neighbours is sent as no offset.
    Lsf a = flat_lsf(), b = flat_lsf();
    for (auto& w : b) w *= 0.9;
    Lsf m{};
    for (std::size_t i = 0; i < lpc_order; ++i) m[i] = 0.5 * (a[i] + b[i]);
    const Lsf back = dequantise_lsf_mid(quantise_lsf_mid(m, a, b), a, b);
    for (std::size_t i = 0; i < lpc_order; ++i) EXPECT_NEAR(back[i], m[i], 1e-12);
    // Out-of-range indices (a damaged frame) are clamped, not read past the table.
    EXPECT_EQ(lsf_value(0, 1 << 20), lsf_value(0, static_cast<int>(lsf_entries(0)) - 1));
    EXPECT_EQ(lsf_mid_value(0, -3), lsf_mid_value(0, 0));
}

}  // namespace
}  // namespace tarpo::codec
