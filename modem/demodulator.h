// The receiver's front end: mixes the 12000 Hz input down so that the tuned centre lands at
// zero, low-pass filters and decimates it by 5 to 2400 Hz, runs a 15-carrier polyphase
// matched-filter bank four times per symbol, recovers the symbol timing from the energy of
// the filter outputs and interpolates each carrier to the symbol instant.
#pragma once

#include <array>

#include "dsp/filters.h"
#include "modem/constants.h"
#include "modem/modulator.h"

namespace tarpo::modem {

using dsp::ComplexSample;
using dsp::DelayLine;

class FrontEnd {
  public:
    // Ready to receive: the filter bank's sine and cosine tables come from the carrier steps
    // of `tables`, which must be built already and outlive this object.
    explicit FrontEnd(const ModemTables& tables);

    // One receive sample at 12000 Hz, in 16-bit units; rx_step is the receive oscillator step
    // (rad per sample). Returns true when a symbol instant has just been reached: then
    // symbol_sample() holds the 15 interpolated carrier samples of that symbol.
    bool demod_sample(double x, double rx_step);

    const std::array<ComplexSample, carriers>& symbol_sample() const { return symbol_sample_; }
    // Where the last symbol instant fell between filter-bank outputs: (fraction - 0.5) x 400,
    // [-200, 200).
    double timing_marker() const { return timing_marker_; }
    double rx_phase() const { return rx_phase_; }
    int timing_phase() const { return timing_phase_; }
    const std::array<double, 2>& timing_acc() const { return timing_acc_; }
    // Filter-bank output of carrier i at age 0 (newest) .. 3.
    ComplexSample history(int age, int i) const {
        return history_[static_cast<std::size_t>(age)][static_cast<std::size_t>(i)];
    }

    // Four-point piecewise-parabolic interpolation between y2 (mu = 0) and y1 (mu = 1).
    static double interpolate(double y0, double y1, double y2, double y3, double mu);

  private:
    void build_bank();
    void filter_bank();
    bool symbol_timing_step();

    const ModemTables& tables_;

    double rx_phase_ = 0.0;
    DelayLine<ComplexSample, 30> mix_ring_;
    std::array<ComplexSample, pulse_taps> baseband_ring_{};
    std::size_t baseband_pos_ = 0;
    std::array<ComplexSample, carrier_period_samples> fold_bins_{};
    std::array<std::array<ComplexSample, carriers>, 4> history_{};  // [age][carrier]
    std::array<ComplexSample, carriers> symbol_sample_{};
    double timing_marker_ = 0.0;
    int timing_phase_ = 0;                // 0..3, counts every filter-bank output
    std::array<double, 2> timing_acc_{};  // (E0, E1), symbol-rate energy component

    // sin and cos of n x carrier_step[i] for n = 0..60, the only angles the bank meets.
    std::array<std::array<double, 61>, carriers> bank_sin_{};
    std::array<std::array<double, 61>, carriers> bank_cos_{};
};

}  // namespace tarpo::modem
