#include "bench/sim/ber_theory.h"

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include "sim/rng.h"

namespace tarpo::bench {

namespace {

// Composite Simpson rule; the integrands here are smooth and bounded, and 2048 intervals put
// the rule's error far below the BERs of interest (1e-6 and up).
template <typename F>
double simpson(F f, double a, double b) {
    constexpr int n = 2048;
    const double h = (b - a) / n;
    double sum = f(a) + f(b);
    for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(a + i * h);
    return sum * h / 3.0;
}

}  // namespace

double mdpsk_symbol_error(int m, double es_n0) {
    const double w = std::numbers::pi / m;
    const double s2 = std::sin(w) * std::sin(w);
    const double c = std::cos(w);
    return simpson([&](double t) { return std::exp(-es_n0 * s2 / (1.0 + c * std::cos(t))); }, 0.0,
                   std::numbers::pi - w) /
           std::numbers::pi;
}

double dqpsk_half_plane_error(double es_n0) {
    // The single-integral form of Q1(a, b) - I0(ab) exp(-(a^2 + b^2) / 2) / 2 with
    // zeta = a / b < 1.
    // zeta = a / b does not depend on the SNR (taking it from a2 / b2 fails at es_n0 = 0).
    const double b2 = es_n0 * (1.0 + std::numbers::sqrt2 / 2.0);
    const double zeta =
        std::sqrt((1.0 - std::numbers::sqrt2 / 2.0) / (1.0 + std::numbers::sqrt2 / 2.0));
    const auto f = [&](double t) {
        const double q = 1.0 + 2.0 * zeta * std::sin(t) + zeta * zeta;
        return (1.0 - zeta * zeta) * std::exp(-b2 * q / 2.0) / q;
    };
    return simpson(f, -std::numbers::pi, std::numbers::pi) / (4.0 * std::numbers::pi);
}

double dqpsk_natural_ber(double es_n0) {
    return mdpsk_symbol_error(4, es_n0) - 0.5 * dqpsk_half_plane_error(es_n0);
}

double ideal_ber_at_ebno_db(double ebno_db) {
    return dqpsk_natural_ber(2.0 * std::pow(10.0, ebno_db / 10.0));
}

double ideal_ebno_db_at_ber(double ber) {
    double low = -10.0;  // BER above 0.3 here
    double high = 30.0;  // BER far below 1e-12 here
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (low + high);
        if (ideal_ber_at_ebno_db(mid) > ber)
            low = mid;
        else
            high = mid;
    }
    return 0.5 * (low + high);
}

double crossing_db(std::span<const double> x_db, std::span<const double> ber, double target) {
    for (std::size_t i = 0; i + 1 < x_db.size() && i + 1 < ber.size(); ++i) {
        if (!(ber[i] > 0.0) || !(ber[i + 1] > 0.0)) break;
        const double l0 = std::log10(ber[i]);
        const double l1 = std::log10(ber[i + 1]);
        const double lt = std::log10(target);
        if ((l0 >= lt && l1 <= lt && l0 != l1) || (l0 <= lt && l1 >= lt && l0 != l1))
            return x_db[i] + (lt - l0) / (l1 - l0) * (x_db[i + 1] - x_db[i]);
    }
    return std::numeric_limits<double>::quiet_NaN();
}

double ideal_ber_monte_carlo(double es_n0, std::uint64_t symbols, std::uint64_t seed) {
    sim::Rng data(seed, 1);
    sim::Rng noise(seed, 2);
    // Complex noise of variance 1 / es_n0: each component 1 / (2 es_n0).
    const double sigma = std::sqrt(0.5 / es_n0);
    const auto received = [&](double phase) {
        return std::polar(1.0, phase) +
               std::complex<double>(sigma * noise.gaussian(), sigma * noise.gaussian());
    };
    double phase = 0.0;
    std::complex<double> previous = received(phase);
    std::uint64_t errors = 0;
    for (std::uint64_t n = 0; n < symbols; ++n) {
        const int dibit = static_cast<int>(data.next() >> 62);
        phase = std::remainder(phase + dibit * std::numbers::pi / 2.0, 2.0 * std::numbers::pi);
        const std::complex<double> r = received(phase);
        const double advance = std::arg(r * std::conj(previous));  // (-pi, pi]
        const int decided = static_cast<int>(std::lround(advance / (std::numbers::pi / 2.0))) & 3;
        const int wrong = dibit ^ decided;
        errors += static_cast<std::uint64_t>((wrong & 1) + (wrong >> 1));
        previous = r;
    }
    return static_cast<double>(errors) / (2.0 * static_cast<double>(symbols));
}

}  // namespace tarpo::bench
