// The frequency acquisition that finds a signal's centre in the receiver's spectrum: on a left
// click the strongest pair of lines 12.5 Hz either side of a bin (the reversing pilot), on a
// right click the clicked bin itself.
#pragma once

#include <array>

#include "modem/analyser.h"

namespace tarpo::modem {

// User-interface side: served by the display timer and the graph's mouse clicks.
class Acquisition {
  public:
    // Every display tick: a new spectrum while receiving goes into the metric and serves a
    // pending acquisition; otherwise a pending one is dropped. Returns the frequency (Hz) to
    // tune to when an acquisition was served, else NaN. Entry 0 of the spectrum is unused.
    double spectrum_tick(bool receiving, bool new_spectrum,
                         const std::array<double, spectrum_bins>& spectrum);
    void request_acquisition() { acquire_ = true; }  // left click
    void cancel_acquisition() { acquire_ = false; }
    // Right click at column x, clamped to 100..300: the frequency (Hz) to tune to. It drops a
    // pending acquisition.
    double tuning_at(int x);

    // Where the reversing pilot's pair of lines stands out; only 100..299 are written.
    const std::array<double, spectrum_bins>& acq_metric() const { return acq_metric_; }

  private:
    void update_metric(const std::array<double, spectrum_bins>& spectrum);
    int strongest_bin() const;

    bool acquire_ = false;
    std::array<double, spectrum_bins> acq_metric_{};
};

}  // namespace tarpo::modem
