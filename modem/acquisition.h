// The 400-bin spectrum of the receiver audio (6.25 Hz per bin, bin j at (j + 48) x 6.25 Hz),
// and the frequency acquisition that finds a signal's centre in it: on a left click the
// strongest pair of lines 12.5 Hz either side of a bin (the reversing pilot), on a right click
// the clicked bin itself.
#pragma once

#include <array>

#include "modem/constants.h"

namespace tarpo::modem {

// Display modes of the graph, as the Display menu numbers them.
enum DisplayMode : int {
    display_scope = 1,
    display_spectrum = 2,
    display_freqacq = 3,
    display_constellation = 4,
    display_phase_error = 5,
    display_waterfall = 9,
    display_scrolling_waterfall = 10,
};

inline constexpr int spectrum_bins = 400;
inline constexpr int spectrum_length = 960;  // 160 ms at 6000 Hz

// Frequency in Hz that bin (graph column) j stands for.
constexpr double bin_frequency(int j) {
    return (j + 48) * 6.25;
}

// Worker side: tables built once, then only read.
class SpectrumAnalyser {
  public:
    SpectrumAnalyser();
    // Direct 960-point DFT of the Hann-windowed input at DFT bins 49..447; output[j] for
    // j = 1..399 is the magnitude (a sine of amplitude A on a bin gives A/4). output[0] is
    // not touched.
    void compute(const double* input, double* output) const;

    const std::array<double, spectrum_length>& hann_window() const { return hann_window_; }

  private:
    std::array<double, spectrum_length> hann_window_{};
    std::array<double, spectrum_length> dft_sin_{};
    std::array<double, spectrum_length> dft_cos_{};
};

// User-interface side: served by the display timer and the graph's mouse clicks.
class Acquisition {
  public:
    // What one display tick sees of the receiver.
    struct TickInput {
        bool receiving = false;     // the receive phase runs
        bool new_spectrum = false;  // a spectrum came since the last tick that saw one
        const std::array<double, spectrum_bins>* spectrum = nullptr;  // entry 0 unused
        const std::array<double, carriers>* carrier_error = nullptr;  // quarter turns
        int display_mode = 0;
    };

    // Every display tick: serves a pending acquisition when a new spectrum has come while
    // receiving (else drops it), then prepares the arrays of the current display mode.
    // Returns the frequency (Hz) to tune to when an acquisition was served, else NaN.
    double spectrum_tick(const TickInput& in);
    void request_acquisition() { acquire_ = true; }  // left click
    void cancel_acquisition() { acquire_ = false; }
    // Right click at column x, clamped to 100..300: the frequency (Hz) to tune to. It drops a
    // pending acquisition.
    double tuning_at(int x);

    const std::array<double, spectrum_bins>& acq_metric() const { return acq_metric_; }
    const std::array<double, spectrum_bins>& display_spectrum() const { return display_spectrum_; }
    const std::array<double, carriers>& error_bars() const { return error_bars_; }

  private:
    void update_metric(const std::array<double, spectrum_bins>& spectrum);
    int strongest_bin() const;
    void prepare_display(const TickInput& in);

    bool acquire_ = false;
    std::array<double, spectrum_bins> acq_metric_{};  // only 100..299 are written
    std::array<double, spectrum_bins> display_spectrum_{};
    std::array<double, carriers> error_bars_{};
};

}  // namespace tarpo::modem
