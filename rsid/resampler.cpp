#include "rsid/resampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarpo::rsid {

namespace {
// Zeroth-order modified Bessel function of the first kind, by its power series (converges
// quickly for the arguments of a Kaiser window, x <= 10).
double bessel_i0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < 1e-17 * sum) break;
    }
    return sum;
}
}  // namespace

Resampler::Resampler() {
    constexpr int length = up * taps_per_phase;
    constexpr double high_rate = 6000.0 * up;
    const double centre = (length - 1) / 2.0;
    const double fc = cutoff_hz / high_rate;  // cycles per high-rate sample
    for (int j = 0; j < length; ++j) {
        const double t = j - centre;
        const double x = 2.0 * fc * t;
        const double sinc =
            t == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double r = t / centre;
        const double window =
            bessel_i0(kaiser_beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / bessel_i0(kaiser_beta);
        taps_[j % up][j / up] = 2.0 * fc * sinc * window * up;
    }
    // Each phase sums to 1 (unit gain at DC), so no phase ripples the output's level.
    for (auto& phase : taps_) {
        double sum = 0.0;
        for (double h : phase) sum += h;
        for (double& h : phase) h /= sum;
    }
}

void Resampler::reset() {
    line_.fill(0.0);
}

void Resampler::process(const double* in, double* out) {
    constexpr int history = taps_per_phase - 1;
    std::copy(in, in + input_block, line_.begin() + history);
    for (int m = 0; m < output_block; ++m) {
        // Output m sits at input time m * 80 / 147; the newest input sample it uses is idx.
        const int n = m * down;
        const int idx = n / up;
        const auto& h = taps_[n % up];
        double acc = 0.0;
        for (int k = 0; k < taps_per_phase; ++k) acc += h[k] * line_[history + idx - k];
        out[m] = acc;
    }
    std::copy(line_.end() - history, line_.end(), line_.begin());
}

}  // namespace tarpo::rsid
