#include "modem/decisions.h"

#include <cmath>

#include "modem/constants.h"
#include "dsp/numeric.h"

namespace tarpo::modem {

void Decisions::decide_symbol(const std::array<ComplexSample, 15>& symbol_sample) {
    for (int i = 0; i < carriers; ++i) {
        const std::size_t c = static_cast<std::size_t>(i);
        // The real part is the y argument: this orientation makes a received carrier whose
        // phase advances by k quarter turns read k.
        const double theta = std::atan2(symbol_sample[c].real(), symbol_sample[c].imag());
        double d = theta - prev_phase_[c];
        if (d >= two_pi8)
            d -= two_pi8;
        else if (d < 0.0)
            d += two_pi8;
        prev_phase_[c] = theta;
        const double e = 2.0 * d / pi8;
        track_carrier_error(e, i);
        decisions_[c] = i == pilot_carrier ? nearest_int(0.5 * e) & 1 : nearest_int(e) & 3;
    }
}

void Decisions::track_carrier_error(double e, int i) {
    const double err = e - nearest_int(e);
    store_relaxed(shared_.carrier_error[static_cast<std::size_t>(i) % carriers], err);
    afc_sum_ += err;
    error_energy_ += err * err;
    if (i != carriers - 1) return;

    if (afc_sum_ >= -7.5 && afc_sum_ <= 7.5) {
        // Add the correction atomically: a click that retuned in the meantime is kept.
        const double correction = 0.01 * afc_sum_;
        double f = shared_.tuned_freq.load();
        while (!shared_.tuned_freq.compare_exchange_weak(f, f + correction)) {
        }
        tuning_.set_tuning(f + correction);
    } else {  // only a non-numeric sum lands here
        afc_sum_ = 0.0;
        error_energy_ = 0.0;
    }
    shared_.phase_error.store(error_energy_);
    error_energy_ *= 0.9;
    afc_sum_ = 0.0;
}

int snr_db(double phase_error) {
    if (!(phase_error >= 0.01)) return 0;
    return truncate_to_int(10.0 * std::log10(15.0 / phase_error));
}

}  // namespace tarpo::modem
