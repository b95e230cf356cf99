// High-band periodicity: how periodic the 2.5-3.8 kHz band of decoded speech is at the
// original's pitch, over the original's voiced frames, relative to the original itself.
#include <algorithm>
#include <array>
#include <cmath>

#include "bench/quality/quality.h"
#include "codec/encoder.h"

namespace tarpo::quality {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double voiced_peak = 0.6;    // normalised autocorrelation of the low band
constexpr double level_range_db = 10;  // voiced frames within this of the clip's RMS

using codec::Biquad;  // the codec's own second-order section

// Second-order Butterworth section, low-pass or high-pass.
Biquad butterworth(double fc, double fs, bool high) {
    const double k = std::tan(pi * fc / fs), q = std::sqrt(2.0);
    const double norm = 1.0 / (1.0 + q * k + k * k);
    const double b0 = high ? norm : k * k * norm;
    return {b0, high ? -2.0 * b0 : 2.0 * b0, b0, 2.0 * (k * k - 1.0) * norm,
            (1.0 - q * k + k * k) * norm};
}

// x through the cascade of sections (fourth order per edge).
std::vector<double> filtered(std::span<const double> x, double fs, double low, double high) {
    std::vector<Biquad> f;
    if (low > 0.0) f.insert(f.end(), 2, butterworth(low, fs, true));
    if (high > 0.0) f.insert(f.end(), 2, butterworth(high, fs, false));
    std::vector<double> y(x.begin(), x.end());
    for (auto& b : f)
        for (double& v : y) v = b.step(v);
    return y;
}

double correlation(const std::vector<double>& x, std::size_t at, std::size_t len, std::size_t lag) {
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (std::size_t n = at; n < at + len; ++n) {
        xy += x[n] * x[n + lag];
        xx += x[n] * x[n];
        yy += x[n + lag] * x[n + lag];
    }
    return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// Best normalised correlation at lags lag-2..lag+2.
double best_near(const std::vector<double>& x, std::size_t at, std::size_t len, std::size_t lag) {
    double best = 0.0;
    for (std::size_t l = lag - 2; l <= lag + 2; ++l)
        best = std::max(best, correlation(x, at, len, l));
    return best;
}

}  // namespace

double high_band_periodicity(std::span<const double> original, std::span<const double> decoded,
                             double fs) {
    const std::size_t n = std::min(original.size(), decoded.size());
    const auto len = static_cast<std::size_t>(0.032 * fs),
               hop = static_cast<std::size_t>(0.01 * fs);
    const auto min_lag = static_cast<std::size_t>(fs / 400.0),
               max_lag = static_cast<std::size_t>(fs / 50.0);
    if (n < len + max_lag + 3) return NAN;
    double clip = 0.0;
    for (std::size_t i = 0; i < n; ++i) clip += original[i] * original[i];
    const double clip_db = 10.0 * std::log10(clip / n + 1e-20);
    const auto low = filtered(original.first(n), fs, 0.0, 1000.0);
    const auto ho = filtered(original.first(n), fs, 2500.0, 3800.0);
    const auto hd = filtered(decoded.first(n), fs, 2500.0, 3800.0);
    double sum_o = 0.0, sum_d = 0.0;
    for (std::size_t at = 0; at + len + max_lag + 2 < n; at += hop) {
        double e = 0.0;
        for (std::size_t i = at; i < at + len; ++i) e += original[i] * original[i];
        if (10.0 * std::log10(e / len + 1e-20) < clip_db - level_range_db) continue;
        std::size_t lag = 0;
        double peak = 0.0;
        for (std::size_t l = min_lag; l <= max_lag; ++l) {
            const double c = correlation(low, at, len, l);
            if (c > peak) {
                peak = c;
                lag = l;
            }
        }
        if (peak < voiced_peak || lag < 3) continue;
        sum_o += best_near(ho, at, len, lag);
        sum_d += best_near(hd, at, len, lag);
    }
    return sum_o > 0.0 ? sum_d / sum_o : NAN;
}

}  // namespace tarpo::quality
