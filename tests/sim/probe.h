// Measurements that the channel tests make on the simulator's output: tones, their frequency
// and amplitude, and the statistics of a complex gain sequence.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <span>
#include <vector>

namespace tarpo::sim::probe {

constexpr double rate = 48000.0;

inline std::vector<double> tone(std::size_t n, double freq_hz, double amplitude,
                                double phase = 0.0) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = amplitude * std::cos(2.0 * std::numbers::pi * freq_hz * i / rate + phase);
    return x;
}

inline double mean_power(std::span<const double> x) {
    double sum = 0.0;
    for (double v : x) sum += v * v;
    return x.empty() ? 0.0 : sum / static_cast<double>(x.size());
}

// Complex amplitude of the component at freq_hz, Hann-windowed so that other tones more than a
// few hertz away leak less than -100 dB into it. A tone A cos(wt + p) gives A e^{jp} (phase at
// sample 0).
inline std::complex<double> amplitude_at(std::span<const double> x, double freq_hz) {
    const std::size_t n = x.size();
    std::complex<double> sum{};
    double wsum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / n);
        const double phi = -2.0 * std::numbers::pi * freq_hz * i / rate;
        sum += w * x[i] * std::complex<double>(std::cos(phi), std::sin(phi));
        wsum += w;
    }
    return 2.0 * sum / wsum;
}

// Frequency of a clean tone near guess_hz, in Hz: the tone is mixed to near 0 Hz, averaged over
// blocks of 10 ms (an integer number of cycles of the sum frequency when guess_hz is a multiple
// of 50 Hz, so that it cancels), and the slope of the unwrapped block phases is fitted by least
// squares. Resolves far below a millihertz on a clean tone of a few seconds.
inline double tone_frequency(std::span<const double> x, double guess_hz) {
    const std::size_t block = 480;
    std::vector<double> phases;
    for (std::size_t start = 0; start + block <= x.size(); start += block) {
        std::complex<double> sum{};
        for (std::size_t i = start; i < start + block; ++i) {
            const double phi = -2.0 * std::numbers::pi * guess_hz * i / rate;
            sum += x[i] * std::complex<double>(std::cos(phi), std::sin(phi));
        }
        double p = std::arg(sum);
        if (!phases.empty()) {
            while (p - phases.back() > std::numbers::pi) p -= 2.0 * std::numbers::pi;
            while (p - phases.back() < -std::numbers::pi) p += 2.0 * std::numbers::pi;
        }
        phases.push_back(p);
    }
    const double m = static_cast<double>(phases.size());
    double st = 0.0, sp = 0.0, stt = 0.0, stp = 0.0;
    for (std::size_t k = 0; k < phases.size(); ++k) {
        const double t = static_cast<double>(k);
        st += t;
        sp += phases[k];
        stt += t * t;
        stp += t * phases[k];
    }
    const double slope = (m * stp - st * sp) / (m * stt - st * st);  // rad per block
    return guess_hz + slope / (2.0 * std::numbers::pi) * rate / block;
}

// Normalised autocorrelation of a complex sequence at a lag: E[g(n+lag) g*(n)] / E|g|^2.
inline std::complex<double> autocorrelation(std::span<const std::complex<double>> g,
                                            std::size_t lag) {
    std::complex<double> sum{};
    double power = 0.0;
    for (std::size_t i = 0; i + lag < g.size(); ++i) sum += g[i + lag] * std::conj(g[i]);
    for (const auto& v : g) power += std::norm(v);
    return sum / static_cast<double>(g.size() - lag) / (power / static_cast<double>(g.size()));
}

// Standard deviation in Hz of a Gaussian Doppler spectrum from the autocorrelation at a lag of
// lag_s seconds: a Gaussian spectrum of standard deviation s has the autocorrelation
// exp(-2 pi^2 s^2 tau^2).
inline double doppler_sigma(double rho, double lag_s) {
    return std::sqrt(-std::log(rho) / (2.0 * std::numbers::pi * std::numbers::pi)) / lag_s;
}

}  // namespace tarpo::sim::probe
