#include "modem/acquisition.h"

#include <limits>

namespace tarpo::modem {

double Acquisition::spectrum_tick(bool receiving, bool new_spectrum,
                                  const std::array<double, spectrum_bins>& spectrum) {
    double tune_to = std::numeric_limits<double>::quiet_NaN();
    if (receiving && new_spectrum) {
        update_metric(spectrum);
        if (acquire_) tune_to = bin_frequency(strongest_bin());
    }
    acquire_ = false;  // served, or a click while transmitting or without a new spectrum
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

double Acquisition::tuning_at(int x) {
    if (x >= 300)
        x = 300;
    else if (x <= 100)
        x = 100;
    acquire_ = false;
    return bin_frequency(x);
}

}  // namespace tarpo::modem
