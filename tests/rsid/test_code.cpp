// The identifier's Reed-Solomon code and TARPO's choice of mode number.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "rsid/code.h"

namespace tarpo::rsid {
namespace {

TEST(RsidCode, GeneratorCoefficientsAreThePublishedOnes) {
    const std::array<std::uint8_t, 13> published{8, 10, 9, 10, 1, 8, 2, 11, 9, 2, 3, 11, 1};
    EXPECT_EQ(generator, published);
}

TEST(RsidCode, PublishedTestVectors) {
    EXPECT_EQ(encode_mode(1), (Codeword{0, 0, 8, 10, 9, 10, 1, 8, 2, 11, 9, 2, 3, 11, 1}));
    EXPECT_EQ(encode_mode(6), (Codeword{0, 0, 2, 14, 4, 14, 6, 2, 12, 8, 4, 12, 10, 8, 6}));
    EXPECT_EQ(encode_mode(147), (Codeword{0, 7, 13, 9, 14, 14, 4, 10, 3, 10, 9, 4, 0, 13, 3}));
    EXPECT_EQ(encode_mode(620), (Codeword{9, 15, 1, 12, 4, 10, 10, 7, 2, 9, 2, 4, 7, 15, 12}));
}

// Field arithmetic against a slow reference: multiplication by repeated doubling, where
// doubling is a shift reduced by x^4 + x^3 + 1.
TEST(RsidCode, FieldMultiplicationMatchesRepeatedDoubling) {
    auto times_x = [](unsigned a) { return (a << 1) & 16 ? ((a << 1) ^ 0x19) : a << 1; };
    for (unsigned a = 0; a < 16; ++a) {
        unsigned shifted = a;
        unsigned expect[4]{};
        for (int i = 0; i < 4; ++i, shifted = times_x(shifted)) expect[i] = shifted;
        for (unsigned b = 0; b < 16; ++b) {
            unsigned r = 0;
            for (int i = 0; i < 4; ++i)
                if (b & (1u << i)) r ^= expect[i];
            EXPECT_EQ(gf16::mul(a, b), r) << a << " * " << b;
        }
    }
    // alpha = 2 is primitive: its powers run through all 15 nonzero elements.
    std::set<int> powers;
    for (int k = 0; k < 15; ++k) powers.insert(gf16::alpha_pow(k));
    EXPECT_EQ(powers.size(), 15u);
    EXPECT_EQ(powers.count(0), 0u);
}

// Every codeword, as a polynomial, vanishes at the generator's roots alpha^1 .. alpha^12.
TEST(RsidCode, EveryCodewordHasTheGeneratorRoots) {
    for (unsigned n = 0; n < 4096; n += 7) {
        const Codeword c = encode_mode(n);
        for (int j = 1; j <= 12; ++j) {
            const std::uint8_t x = gf16::alpha_pow(j);
            std::uint8_t value = 0, xp = 1;
            for (int i = 0; i < code_length; ++i) {
                value ^= gf16::mul(c[i], xp);
                xp = gf16::mul(xp, x);
            }
            ASSERT_EQ(value, 0) << "mode " << n << " root alpha^" << j;
        }
    }
}

TEST(RsidCode, OurCodewordIsAtLeastThirteenSymbolsFromEveryOther) {
    for (unsigned n = 0; n < 4096; ++n) {
        if (n == tarpo_mode) continue;
        const Codeword c = encode_mode(n);
        int differ = 0;
        for (int i = 0; i < code_length; ++i) differ += c[i] != tarpo_codeword[i];
        ASSERT_GE(differ, 13) << "mode " << n;
    }
}

// The property the mode number was chosen for: no repeated single tone, and every copy moved
// by whole tones (and, more strictly, also by whole symbols) differs in at least 7 symbols.
TEST(RsidCode, OurModeNumberIsUnambiguousUnderShifts) {
    const Codeword& c = tarpo_codeword;
    EXPECT_GT(std::set<int>(c.begin(), c.end()).size(), 1u);
    for (int tones = -15; tones <= 15; ++tones) {
        if (tones == 0) continue;
        int differ = 0;
        for (int i = 0; i < code_length; ++i) differ += c[i] + tones != c[i];
        EXPECT_GE(differ, 7) << "tone shift " << tones;
    }
    EXPECT_LE(max_self_coincidence(c), code_length - 7);
    // The stronger properties claimed for 2599: all tones distinct, at most 2 coincidences.
    EXPECT_EQ(std::set<int>(c.begin(), c.end()).size(), 15u);
    EXPECT_EQ(max_self_coincidence(c), 2);
    // A constant codeword (mode 929 gives all ones) is what the rule excludes: shifted by a
    // symbol it coincides with itself in 14 symbols.
    const Codeword ones = encode_mode(929);
    EXPECT_TRUE(std::all_of(ones.begin(), ones.end(), [](int t) { return t == 1; }));
    EXPECT_EQ(max_self_coincidence(ones), 14);
}

}  // namespace
}  // namespace tarpo::rsid
