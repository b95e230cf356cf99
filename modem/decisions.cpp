#include "modem/decisions.h"

#include <cmath>
#include <limits>

#include "dsp/numeric.h"
#include "modem/constants.h"

namespace tarpo::modem {

using dsp::nearest_int;
using dsp::truncate_to_int;

double Decisions::decide_symbol(const std::array<ComplexSample, carriers>& symbol_sample) {
    double correction = 0.0;
    for (int i = 0; i < carriers; ++i) {
        const std::size_t c = static_cast<std::size_t>(i);
        // The real part is the y argument: this orientation makes a received carrier whose
        // phase advances by k quarter turns read k.
        const double theta = std::atan2(symbol_sample[c].real(), symbol_sample[c].imag());
        double d = theta - prev_phase_[c];
        if (d >= two_pi)
            d -= two_pi;
        else if (d < 0.0)
            d += two_pi;
        prev_phase_[c] = theta;
        const double e = 2.0 * d / pi;
        correction = track_carrier_error(e, i);
        decisions_[c] = i == pilot_carrier ? nearest_int(0.5 * e) & 1 : nearest_int(e) & 3;
    }
    return correction;
}

double Decisions::track_carrier_error(double e, int i) {
    const double err = e - nearest_int(e);
    carrier_error_[static_cast<std::size_t>(i) % carriers] = err;
    afc_sum_ += err;
    error_energy_ += err * err;
    double correction = std::numeric_limits<double>::quiet_NaN();
    if (i != carriers - 1) return correction;

    if (afc_sum_ >= -7.5 && afc_sum_ <= 7.5) {
        correction = 0.01 * afc_sum_;
    } else {  // only a non-numeric sum lands here
        afc_sum_ = 0.0;
        error_energy_ = 0.0;
    }
    phase_error_ = error_energy_;
    error_energy_ *= 0.9;
    afc_sum_ = 0.0;
    return correction;
}

int snr_db(double phase_error) {
    if (!(phase_error >= 0.01)) return 0;
    return truncate_to_int(10.0 * std::log10(15.0 / phase_error));
}

}  // namespace tarpo::modem
