// The 400-bin spectrum of the receiver audio (6.25 Hz per bin, bin j at (j + 48) x 6.25 Hz),
// and the frequency acquisition that finds a signal's centre in it: on a left click the
// strongest pair of lines 12.5 Hz either side of a bin (the reversing pilot), on a right click
// the clicked bin itself.
#pragma once

#include <array>

#include "modem/shared_state.h"

namespace tarpo::modem {

inline constexpr int spectrum_bins = 400;
inline constexpr int spectrum_length = 960;  // 160 ms at 6000 Hz

// Frequency in Hz that bin (graph column) j stands for.
constexpr double bin_frequency(int j) {
    return (j + 48) * 6.25;
}

// Worker side: tables built once, then only read.
class SpectrumAnalyser {
  public:
    void spectrum_init();
    // Direct 960-point DFT of the Hann-windowed input at DFT bins 49..447; output[j] for
    // j = 1..399 is the magnitude (a sine of amplitude A on a bin gives A/4). output[0] is
    // not touched.
    void spectrum_compute(const RelaxedDoubles<spectrum_length>& input,
                          RelaxedDoubles<spectrum_bins>& output) const;
    void spectrum_compute(const double* input, double* output) const;

    const std::array<double, spectrum_length>& hann_window() const { return hann_window_; }

  private:
    std::array<double, spectrum_length> hann_window_{};
    std::array<double, spectrum_length> dft_sin_{};
    std::array<double, spectrum_length> dft_cos_{};
};

// User-interface side: served by the display timer and the graph's mouse clicks.
class Acquisition {
  public:
    explicit Acquisition(SharedState& shared) : shared_(shared) {}

    // Every display tick: serves a pending acquisition when a new spectrum has come while
    // receiving (else drops it), then prepares the arrays of the current display mode.
    void spectrum_tick();
    void request_acquisition();     // left click
    void request_tuning_at(int x);  // right click at column x, clamped to 100..300

    const std::array<double, spectrum_bins>& acq_metric() const { return acq_metric_; }
    const std::array<double, spectrum_bins>& display_spectrum() const { return display_spectrum_; }
    const std::array<double, 15>& error_bars() const { return error_bars_; }

  private:
    SharedState& shared_;
    std::array<double, spectrum_bins> acq_metric_{};  // only 100..299 are written
    std::array<double, spectrum_bins> display_spectrum_{};
    std::array<double, 15> error_bars_{};
};

}  // namespace tarpo::modem
