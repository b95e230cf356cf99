// The ideal differential detector of the bit-error-rate benchmark: the closed form the
// integrals must reduce to, a Monte-Carlo detector built independently, the relations between
// symbol, Gray and natural error rates, and the curve arithmetic behind the implementation loss.
#include "bench/sim/ber_theory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tarpo::bench {
namespace {

TEST(BerTheory, BinaryCaseIsTheClosedForm) {
    // For M = 2 the integral collapses to the DBPSK error rate exp(-Es/N0) / 2 exactly; the
    // Simpson rule is exact on its constant integrand, so only rounding separates them.
    for (double g : {0.1, 1.0, 3.0, 10.0, 25.0})
        EXPECT_NEAR(mdpsk_symbol_error(2, g) / (0.5 * std::exp(-g)), 1.0, 1e-12) << g;
    // With no signal every phase is equally likely: 3 of 4 sectors wrong, half-plane 1/2.
    EXPECT_NEAR(mdpsk_symbol_error(4, 0.0), 0.75, 1e-12);
    EXPECT_NEAR(dqpsk_half_plane_error(0.0), 0.5, 1e-12);
    EXPECT_NEAR(dqpsk_natural_ber(0.0), 0.5, 1e-12);
}

TEST(BerTheory, AgreesWithAMonteCarloDetector) {
    // 300 000 decisions (600 000 bits) per point. Errors come in pairs (a wrong symbol can flip
    // two bits, and one noisy sample spoils two neighbouring decisions), so the spread is taken
    // as twice the binomial one, and 5 of those are allowed.
    constexpr std::uint64_t symbols = 300000;
    for (double ebno_db : {0.0, 4.0, 7.0, 9.0}) {
        const double es_n0 = 2.0 * std::pow(10.0, ebno_db / 10.0);
        const double theory = dqpsk_natural_ber(es_n0);
        const double mc = ideal_ber_monte_carlo(es_n0, symbols, 7);
        const double sigma = 2.0 * std::sqrt(theory * (1.0 - theory) / (2.0 * symbols));
        EXPECT_NEAR(mc, theory, 5.0 * sigma) << ebno_db << " dB";
    }
}

TEST(BerTheory, SectorProbabilitiesAreConsistent) {
    // Ps = 2 P1 + P2 and Ph = P1 + P2 with P1, P2 >= 0: Ph <= Ps <= 2 Ph. Away from the
    // noise-only limit P2 vanishes faster than P1, so natural / Gray tends to 1.5 (a
    // one-quarter error costs 1.5 bits on average in natural binary, 1 in Gray).
    for (double g = 0.25; g < 40.0; g *= 1.5) {
        const double ps = mdpsk_symbol_error(4, g);
        const double ph = dqpsk_half_plane_error(g);
        EXPECT_LE(ph, ps * (1.0 + 1e-9)) << g;
        EXPECT_LE(ps, 2.0 * ph * (1.0 + 1e-9)) << g;
        EXPECT_GT(dqpsk_natural_ber(g), dqpsk_natural_ber(1.5 * g)) << g;
    }
    EXPECT_NEAR(dqpsk_natural_ber(40.0) / dqpsk_half_plane_error(40.0), 1.5, 0.01);
}

TEST(BerTheory, EbN0AtBerInvertsTheCurve) {
    for (double ber : {0.2, 1e-2, 1e-3, 1e-5}) {
        const double x = ideal_ebno_db_at_ber(ber);
        EXPECT_NEAR(ideal_ber_at_ebno_db(x) / ber, 1.0, 1e-6) << ber;
    }
    // The ideal detector's Eb/N0 uses the whole received power over 1400 bit/s, so
    // Es/N0 = 2 Eb/N0.
    EXPECT_DOUBLE_EQ(ideal_ber_at_ebno_db(3.0), dqpsk_natural_ber(2.0 * std::pow(10.0, 0.3)));
}

TEST(BerTheory, CrossingInterpolatesLogBer) {
    // BER = 10^(-x / 4) is a straight line in log BER: exact at any target between points.
    std::vector<double> x;
    std::vector<double> ber;
    for (int i = 0; i <= 14; ++i) {
        x.push_back(i);
        ber.push_back(std::pow(10.0, -i / 4.0));
    }
    EXPECT_NEAR(crossing_db(x, ber, 1e-2), 8.0, 1e-9);
    EXPECT_NEAR(crossing_db(x, ber, 3e-3), -4.0 * std::log10(3e-3), 1e-9);
    // Not reached, reached only past a zero, empty curve: no answer.
    EXPECT_TRUE(std::isnan(crossing_db(x, ber, 1e-5)));
    const std::vector<double> with_zero{0.1, 0.02, 0.0, 1e-4};
    const std::vector<double> xs{0.0, 1.0, 2.0, 3.0};
    EXPECT_TRUE(std::isnan(crossing_db(xs, with_zero, 1e-3)));
    EXPECT_NEAR(crossing_db(xs, with_zero, 0.05), std::log10(0.1 / 0.05) / std::log10(5.0), 1e-12);
    EXPECT_TRUE(std::isnan(crossing_db({}, {}, 1e-2)));
    // A noisy curve that goes back up still gives its first crossing.
    const std::vector<double> bumpy{0.1, 0.005, 0.02, 0.001};
    EXPECT_NEAR(crossing_db(xs, bumpy, 0.01), std::log10(10.0) / std::log10(20.0), 1e-12);
}

}  // namespace
}  // namespace tarpo::bench
