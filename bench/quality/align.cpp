#include <samplerate.h>

#include <algorithm>
#include <cmath>

#include "bench/quality/quality.h"

namespace tarpo::quality {

namespace {

constexpr std::size_t envelope_step = 4;   // envelope step, samples
constexpr std::size_t window_length = 80;  // envelope window, samples

std::vector<double> log_envelope(std::span<const double> x) {
    std::vector<double> e;
    for (std::size_t at = 0; at + window_length <= x.size(); at += envelope_step) {
        double s = 0.0;
        for (std::size_t n = 0; n < window_length; ++n) s += x[at + n] * x[at + n];
        e.push_back(std::log(s / window_length + 1e-9));  // floor -90 dB: silence is flat
    }
    return e;
}

}  // namespace

std::vector<double> resample(std::span<const double> x, double from_hz, double to_hz) {
    if (x.empty()) return {};
    if (from_hz == to_hz) return {x.begin(), x.end()};
    std::vector<float> in(x.begin(), x.end());
    const double ratio = to_hz / from_hz;
    std::vector<float> out(static_cast<std::size_t>(std::ceil(in.size() * ratio)) + 16);
    SRC_DATA d{};
    d.data_in = in.data();
    d.data_out = out.data();
    d.input_frames = static_cast<long>(in.size());
    d.output_frames = static_cast<long>(out.size());
    d.src_ratio = ratio;
    if (src_simple(&d, SRC_SINC_BEST_QUALITY, 1) != 0) return {};
    return {out.begin(), out.begin() + d.output_frames_gen};
}

std::size_t envelope_delay(std::span<const double> reference, std::span<const double> test,
                           std::size_t max_delay) {
    const auto r = log_envelope(reference);
    const auto t = log_envelope(test);
    const std::size_t max_lag = max_delay / envelope_step;
    double best = -INFINITY;
    std::size_t best_lag = 0;
    for (std::size_t lag = 0; lag <= max_lag && lag < t.size(); ++lag) {
        const std::size_t n = std::min(r.size(), t.size() - lag);
        if (n < 2) break;
        double mr = 0.0, mt = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            mr += r[i];
            mt += t[i + lag];
        }
        mr /= n;
        mt /= n;
        double sxy = 0.0, sxx = 0.0, syy = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double a = r[i] - mr, b = t[i + lag] - mt;
            sxy += a * b;
            sxx += a * a;
            syy += b * b;
        }
        const double c = (sxx > 0.0 && syy > 0.0) ? sxy / std::sqrt(sxx * syy) : 0.0;
        if (c > best) {
            best = c;
            best_lag = lag;
        }
    }
    return best_lag * envelope_step;
}

void align(std::vector<double>& reference, std::vector<double>& test, std::size_t delay) {
    if (delay >= test.size()) {
        test.clear();
    } else {
        test.erase(test.begin(), test.begin() + static_cast<std::ptrdiff_t>(delay));
    }
    const std::size_t n = std::min(reference.size(), test.size());
    reference.resize(n);
    test.resize(n);
}

}  // namespace tarpo::quality
