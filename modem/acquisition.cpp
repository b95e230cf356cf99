#include "modem/acquisition.h"

#include <cmath>

namespace tarpo::modem {

void SpectrumAnalyser::spectrum_init() {
    constexpr double two_pi = 6.283185307179586;
    constexpr double step = two_pi / spectrum_length;
    double a = 0.0;
    for (int n = 0; n < spectrum_length; ++n) {
        const std::size_t i = static_cast<std::size_t>(n);
        hann_window_[i] = (1.0 - std::cos(a)) * 0.5;
        dft_sin_[i] = std::sin(a);
        dft_cos_[i] = std::cos(a);
        a += step;
        if (a >= 3.141592653589793) a -= two_pi;
    }
}

void SpectrumAnalyser::spectrum_compute(const double* input, double* output) const {
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

void SpectrumAnalyser::spectrum_compute(const RelaxedDoubles<spectrum_length>& input,
                                        RelaxedDoubles<spectrum_bins>& output) const {
    std::array<double, spectrum_length> in{};
    for (std::size_t n = 0; n < in.size(); ++n) in[n] = load_relaxed(input[n]);
    std::array<double, spectrum_bins> out{};
    spectrum_compute(in.data(), out.data());
    for (std::size_t j = 1; j < out.size(); ++j) store_relaxed(output[j], out[j]);
}

void Acquisition::spectrum_tick() {
    if (shared_.rx_active.load() && shared_.spectrum_ready.load() >= 1) {
        for (std::size_t k = 100; k < 300; ++k) {
            // Large only where both bins 12.5 Hz below and above are strong: the pair of
            // lines a pilot reversing every 40 ms puts around the signal's centre.
            const double a = load_relaxed(shared_.spectrum[k - 2]);
            const double b = load_relaxed(shared_.spectrum[k + 2]);
            const double metric = a * b / (a + b + 0.1);
            acq_metric_[k] = (acq_metric_[k] * 4 + metric * 3) * 0.2;
        }
        const int request = shared_.acq_request.load();
        if (request == 1) {
            int best = 148;
            double max = 0.0;
            for (int k = 100; k < 300; ++k) {
                if (acq_metric_[static_cast<std::size_t>(k)] > max) {  // ties keep the lowest
                    max = acq_metric_[static_cast<std::size_t>(k)];
                    best = k;
                }
            }
            shared_.tuned_freq.store(bin_frequency(best));
            shared_.retune_request.store(1);
            shared_.acq_request.store(0);
        } else if (request == 2) {
            shared_.retune_request.store(1);
            shared_.acq_request.store(0);
        }
        shared_.spectrum_ready.store(0);
    } else {
        shared_.acq_request.store(0);  // a click while transmitting or without a new spectrum
    }

    switch (shared_.display_mode.load()) {
        case tarpo::display_spectrum:
            for (std::size_t j = 0; j < display_spectrum_.size(); ++j)
                display_spectrum_[j] =
                    (display_spectrum_[j] * 9 + load_relaxed(shared_.spectrum[j])) * 0.1;
            break;
        case display_freqacq:
            display_spectrum_ = acq_metric_;
            break;
        case display_phase_error:
            for (std::size_t i = 0; i < error_bars_.size(); ++i)
                error_bars_[i] =
                    (error_bars_[i] * 9 + load_relaxed(shared_.carrier_error[i]) * 400) * 0.1;
            break;
        case display_waterfall:
        case display_scrolling_waterfall:
            for (std::size_t j = 0; j < display_spectrum_.size(); ++j)
                display_spectrum_[j] = load_relaxed(shared_.spectrum[j]);
            break;
        default:
            break;
    }
}

void Acquisition::request_acquisition() {
    shared_.acq_request.store(1);
}

void Acquisition::request_tuning_at(int x) {
    if (x >= 300)
        x = 300;
    else if (x <= 100)
        x = 100;
    shared_.tuned_freq.store(bin_frequency(x));
    shared_.acq_request.store(2);
}

}  // namespace tarpo::modem
