#include "dsp/rate_convert.h"

#include <algorithm>

#include "dsp/numeric.h"

namespace tarpo::dsp {

double Decimator4::decimate4(const std::int16_t* four) {
    double out = 0.0;
    decimate(four, &out, 1);
    return out;
}

void Decimator4::decimate(const std::int16_t* in, double* out, std::size_t n) {
    std::array<double, kept + 4 * chunk> window;
    while (n > 0) {
        const std::size_t m = std::min(n, chunk);
        std::copy(history_.begin(), history_.end(), window.begin());
        for (std::size_t i = 0; i < 4 * m; ++i) window[kept + i] = in[i];
        window_sums(window.data(), out, m);
        std::copy_n(window.begin() + 4 * m, kept, history_.begin());
        in += 4 * m;
        out += m;
        n -= m;
    }
}

// Output j is the sum over k = 0..29 of window[4j + k] times tap k, k rising, as the delay
// line's dot product sums it.
void Decimator4::window_sums(const double* window, double* out, std::size_t n) {
    std::size_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const double* w = window + 4 * j;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (std::size_t k = 0; k < taps; ++k) {
            s0 += w[k] * lowpass30[k];
            s1 += w[k + 4] * lowpass30[k];
            s2 += w[k + 8] * lowpass30[k];
            s3 += w[k + 12] * lowpass30[k];
        }
        out[j] = s0;
        out[j + 1] = s1;
        out[j + 2] = s2;
        out[j + 3] = s3;
    }
    for (; j < n; ++j) {
        double sum = 0.0;
        for (std::size_t k = 0; k < taps; ++k) sum += window[4 * j + k] * lowpass30[k];
        out[j] = sum;
    }
}

std::int16_t Decimator6::decimate6(const std::int16_t* six) {
    for (int i = 0; i < 6; ++i) line_.push(six[i]);
    return to_sample16(line_.dot(lowpass30));
}

void Interpolator6::interpolate6(std::int16_t* out, std::int16_t x) {
    // 1 / (sum of taps 5, 11, 17, 23, 29): phases 0 and 5 get a gain of exactly 1 at DC.
    constexpr double gain = 6.0331791914;
    line_.push(x);
    for (int r = 0; r < 6; ++r)
        out[r] = to_sample16(line_.dot(lowpass30, static_cast<std::size_t>(5 - r), 6) * gain);
}

}  // namespace tarpo::dsp
