// Differential phase decisions on the 15 interpolated carrier samples of each symbol, the
// frequency correction (AFC) that the decision errors steer, and the quality figure
// phase_error derived from them.
#pragma once

#include <array>

#include "dsp/numeric.h"
#include "modem/constants.h"

namespace tarpo::modem {

using dsp::ComplexSample;

class Decisions {
  public:
    // Decides one symbol: a dibit on each data carrier (0..3 quarter turns of phase advance)
    // and 0 or 1 (phase reversal) on the pilot; tracks the errors and, at the last carrier,
    // updates phase_error. Returns the frequency correction in Hz for the tuning, or NaN when
    // the errors were not numbers (no correction then).
    double decide_symbol(const std::array<ComplexSample, carriers>& symbol_sample);

    // e: phase advance in quarter turns, [0, 4]; i: carrier 0..14. At the last carrier it
    // returns the symbol's correction (see decide_symbol); NaN before.
    double track_carrier_error(double e, int i);

    const std::array<int, carriers>& decisions() const { return decisions_; }
    const std::array<double, carriers>& prev_phase() const { return prev_phase_; }
    // Each carrier's last error in quarter turns, [-0.5, 0.5).
    const std::array<double, carriers>& carrier_error() const { return carrier_error_; }
    double phase_error() const { return phase_error_; }

  private:
    std::array<double, carriers> prev_phase_{};  // rad
    std::array<int, carriers> decisions_{};
    std::array<double, carriers> carrier_error_{};
    double afc_sum_ = 0.0;       // quarter turns, this symbol's carrier errors
    double error_energy_ = 0.0;  // decaying sum of squared carrier errors
    double phase_error_ = 0.0;   // error_energy_ as the last symbol left it
};

// The SNR meter's figure in dB for a phase_error value: trunc(10 log10(15 / phase_error)),
// or 0 when phase_error is below 0.01 (or not a number).
int snr_db(double phase_error);

}  // namespace tarpo::modem
