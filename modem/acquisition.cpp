#include "modem/acquisition.h"

#include <cmath>
#include <limits>

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

double Acquisition::spectrum_tick(const TickInput& in) {
    double tune_to = std::numeric_limits<double>::quiet_NaN();
    if (in.receiving && in.new_spectrum) {
        update_metric(*in.spectrum);
        if (acquire_) tune_to = bin_frequency(strongest_bin());
    }
    acquire_ = false;  // served, or a click while transmitting or without a new spectrum
    prepare_display(in);
    return tune_to;
}

void Acquisition::update_metric(const std::array<double, spectrum_bins>& spectrum) {
    for (std::size_t k = 100; k < 300; ++k) {
        // Large only where both bins 12.5 Hz below and above are strong: the pair of lines a
        // pilot reversing every 40 ms puts around the signal's centre.
        const double a = spectrum[k - 2];
        const double b = spectrum[k + 2];
        const double metric = a * b / (a + b + 0.1);
        acq_metric_[k] = (acq_metric_[k] * 4 + metric * 3) * 0.2;
    }
}

int Acquisition::strongest_bin() const {
    int best = 148;
    double max = 0.0;
    for (int k = 100; k < 300; ++k) {
        if (acq_metric_[static_cast<std::size_t>(k)] > max) {  // ties keep the lowest
            max = acq_metric_[static_cast<std::size_t>(k)];
            best = k;
        }
    }
    return best;
}

void Acquisition::prepare_display(const TickInput& in) {
    switch (in.display_mode) {
        case modem::display_spectrum:
            for (std::size_t j = 0; j < display_spectrum_.size(); ++j)
                display_spectrum_[j] = (display_spectrum_[j] * 9 + (*in.spectrum)[j]) * 0.1;
            break;
        case modem::display_freqacq:
            display_spectrum_ = acq_metric_;
            break;
        case modem::display_phase_error:
            for (std::size_t i = 0; i < error_bars_.size(); ++i)
                error_bars_[i] = (error_bars_[i] * 9 + (*in.carrier_error)[i] * 400) * 0.1;
            break;
        case modem::display_waterfall:
        case modem::display_scrolling_waterfall:
            display_spectrum_ = *in.spectrum;
            break;
        default:
            break;
    }
}

double Acquisition::tuning_at(int x) {
    if (x >= 300)
        x = 300;
    else if (x <= 100)
        x = 100;
    acquire_ = false;
    return bin_frequency(x);
}

}  // namespace tarpo::modem
