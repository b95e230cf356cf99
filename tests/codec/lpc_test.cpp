#include "codec/lpc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "signals.h"

namespace tarpo::codec {
namespace {

// Slow reference: solves the normal equations sum_j a[j] r[|i-j|] = -r[i] by Gaussian
// elimination with partial pivoting.
Lpc solve_normal_equations(const std::array<double, lpc_order + 1>& r) {
    constexpr std::size_t p = lpc_order;
    std::array<std::array<double, p + 1>, p> m{};
    for (std::size_t i = 0; i < p; ++i) {
        for (std::size_t j = 0; j < p; ++j) m[i][j] = r[i > j ? i - j : j - i];
        m[i][p] = -r[i + 1];
    }
    for (std::size_t c = 0; c < p; ++c) {
        std::size_t piv = c;
        for (std::size_t i = c + 1; i < p; ++i)
            if (std::abs(m[i][c]) > std::abs(m[piv][c])) piv = i;
        std::swap(m[c], m[piv]);
        for (std::size_t i = 0; i < p; ++i) {
            if (i == c) continue;
            const double f = m[i][c] / m[c][c];
            for (std::size_t j = c; j <= p; ++j) m[i][j] -= f * m[c][j];
        }
    }
    Lpc a{};
    a[0] = 1.0;
    for (std::size_t i = 0; i < p; ++i) a[i + 1] = m[i][p] / m[i][i];
    return a;
}

// Step-down recursion: a polynomial is minimum phase iff every reflection coefficient is
// inside (-1, 1).
bool minimum_phase(Lpc a) {
    for (std::size_t m = lpc_order; m >= 1; --m) {
        const double k = a[m];
        if (!(std::abs(k) < 1.0)) return false;
        Lpc b = a;
        for (std::size_t i = 1; i < m; ++i) b[i] = (a[i] - k * a[m - i]) / (1.0 - k * k);
        a = b;
    }
    return true;
}

Lsf random_lsf(std::mt19937_64& rng, double gap) {
    std::uniform_real_distribution<double> u(gap, pi - gap);
    Lsf l{};
    do {
        for (auto& w : l) w = u(rng);
        std::sort(l.begin(), l.end());
    } while ([&] {
        for (std::size_t i = 1; i < lpc_order; ++i)
            if (l[i] - l[i - 1] < gap) return true;
        return false;
    }());
    return l;
}

TEST(Levinson, MatchesTheNormalEquationsOnNoiseAndVowels) {
    std::vector<std::vector<double>> signals = {test::white_noise(240, 0.1, 3),
                                                test::vowel(110.0, {700, 1200, 2500}, 240),
                                                test::vowel(230.0, {300, 2300, 3000}, 240)};
    for (const auto& x : signals) {
        const auto r = autocorrelate(x.data(), x.size());
        Lpc a{};
        const double err = levinson(r, a);
        const Lpc ref = solve_normal_equations(r);
        for (std::size_t k = 0; k <= lpc_order; ++k)
            EXPECT_NEAR(a[k], ref[k], 1e-7 * (1.0 + std::abs(ref[k])));
        // The prediction error power equals r[0] + sum a[k] r[k].
        double e = r[0];
        for (std::size_t k = 1; k <= lpc_order; ++k) e += ref[k] * r[k];
        EXPECT_NEAR(err, e, 1e-9 * r[0]);
        EXPECT_TRUE(minimum_phase(a));
    }
    Lpc a{};
    EXPECT_EQ(levinson({}, a), 0.0);  // silence gives the flat filter
    EXPECT_EQ(a[0], 1.0);
    for (std::size_t k = 1; k <= lpc_order; ++k) EXPECT_EQ(a[k], 0.0);
}

TEST(LineSpectralFrequencies, RoundTripThroughPredictionCoefficients) {
    std::mt19937_64 rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        // Frequencies closer than the root scan's grid (pi/256) could be missed; 0.03 rad
        // (38 Hz) is below the decoder's own minimum gap.
        const Lsf l = random_lsf(rng, 0.03);
        const Lpc a = lsf_to_lpc(l);
        EXPECT_TRUE(minimum_phase(a)) << "ordered frequencies must give a stable filter";
        Lsf back{};
        ASSERT_TRUE(lpc_to_lsf(a, back));
        for (std::size_t i = 0; i < lpc_order; ++i) EXPECT_NEAR(back[i], l[i], 1e-8);
    }
    // The flat filter lies at i * pi / 11.
    Lpc flat{};
    flat[0] = 1.0;
    Lsf l{};
    ASSERT_TRUE(lpc_to_lsf(flat, l));
    for (std::size_t i = 0; i < lpc_order; ++i) EXPECT_NEAR(l[i], flat_lsf()[i], 1e-9);
}

TEST(LineSpectralFrequencies, PredictionCoefficientsOfSpeechRoundTrip) {
    const auto x = test::vowel(140.0, {500, 1500, 2500}, 240);
    Lpc a{};
    levinson(autocorrelate(x.data(), x.size()), a);
    Lsf l{};
    ASSERT_TRUE(lpc_to_lsf(a, l));
    const Lpc b = lsf_to_lpc(l);
    for (std::size_t k = 0; k <= lpc_order; ++k) EXPECT_NEAR(b[k], a[k], 1e-7);
}

TEST(LineSpectralFrequencies, RepairMakesAnyDamagedSetValid) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 4.0);
    const double gap = 0.04;
    for (int trial = 0; trial < 300; ++trial) {
        Lsf l{};
        for (auto& w : l) w = u(rng);
        if (trial % 3 == 0) l[trial % lpc_order] = std::nan("");
        if (trial % 5 == 0) l[(trial + 4) % lpc_order] = INFINITY;
        repair_lsf(l, gap);
        EXPECT_GE(l[0], gap - 1e-12);
        EXPECT_LE(l[lpc_order - 1], pi - gap + 1e-12);
        for (std::size_t i = 1; i < lpc_order; ++i) EXPECT_GE(l[i] - l[i - 1], gap - 1e-12);
        EXPECT_TRUE(minimum_phase(lsf_to_lpc(l)));
    }
    // A valid set is left alone.
    Lsf ok = flat_lsf();
    repair_lsf(ok, gap);
    EXPECT_EQ(ok, flat_lsf());
}

}  // namespace
}  // namespace tarpo::codec
