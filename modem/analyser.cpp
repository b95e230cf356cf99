#include "modem/analyser.h"

#include <cmath>

namespace tarpo::modem {

SpectrumAnalyser::SpectrumAnalyser() {
    constexpr double full_turn = 6.283185307179586;
    constexpr double step = full_turn / spectrum_length;
    double a = 0.0;
    for (int n = 0; n < spectrum_length; ++n) {
        const std::size_t i = static_cast<std::size_t>(n);
        hann_window_[i] = (1.0 - std::cos(a)) * 0.5;
        dft_sin_[i] = std::sin(a);
        dft_cos_[i] = std::cos(a);
        a += step;
        if (a >= 3.141592653589793) a -= full_turn;
    }
}

void SpectrumAnalyser::compute(const double* input, double* output) const {
    std::array<double, spectrum_length> w{};
    for (std::size_t n = 0; n < w.size(); ++n) w[n] = hann_window_[n] * input[n];
    for (int j = 1; j < spectrum_bins; ++j) {
        const int k = j + 48;
        double re = 0.0;
        double im = 0.0;
        int m = 0;  // (k x n) mod 960, advanced by k each step
        for (std::size_t n = 0; n < w.size(); ++n) {
            re += w[n] * dft_sin_[static_cast<std::size_t>(m)];
            im += w[n] * dft_cos_[static_cast<std::size_t>(m)];
            m += k;
            if (m >= spectrum_length) m -= spectrum_length;
        }
        output[j] = std::sqrt((re / spectrum_length) * (re / spectrum_length) +
                              (im / spectrum_length) * (im / spectrum_length));
    }
}

}  // namespace tarpo::modem
