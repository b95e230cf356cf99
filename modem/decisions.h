// Differential phase decisions on the 15 interpolated carrier samples of each symbol, the
// frequency tracking (AFC) that the decision errors steer, and the quality figure
// phase_error derived from them.
#pragma once

#include <array>

#include "modem/shared_state.h"
#include "modem/tuning.h"

namespace tarpo::modem {

class Decisions {
  public:
    Decisions(SharedState& shared, Tuning& tuning) : shared_(shared), tuning_(tuning) {}

    // Decides one symbol: a dibit on each data carrier (0..3 quarter turns of phase advance)
    // and 0 or 1 (phase reversal) on the pilot; tracks the errors and, at the last carrier,
    // corrects the tuned frequency and updates phase_error.
    void decide_symbol(const std::array<ComplexSample, 15>& symbol_sample);

    // e: phase advance in quarter turns, [0, 4]; i: carrier 0..14.
    void track_carrier_error(double e, int i);

    const std::array<int, 15>& decisions() const { return decisions_; }
    const std::array<double, 15>& prev_phase() const { return prev_phase_; }

  private:
    SharedState& shared_;
    Tuning& tuning_;
    std::array<double, 15> prev_phase_{};  // rad
    std::array<int, 15> decisions_{};
    double afc_sum_ = 0.0;       // quarter turns, this symbol's carrier errors
    double error_energy_ = 0.0;  // decaying sum of squared carrier errors
};

// The SNR meter's figure in dB for a phase_error value: trunc(10 log10(15 / phase_error)),
// or 0 when phase_error is below 0.01 (or not a number).
int snr_db(double phase_error);

}  // namespace tarpo::modem
