// The display timer's side of the engine: each tick it hands the acquisition what the
// receiver has shown in the monitor, sends a served acquisition or a right click to the
// tuning as a request, and keeps the arrays the graph draws.
#pragma once

#include <array>
#include <cmath>

#include "engine/controls.h"
#include "engine/monitor.h"
#include "modem/acquisition.h"
#include "modem/constants.h"

namespace tarpo::engine {

class DisplayFeed {
  public:
    void tick(Controls& controls, const Monitor& monitor) {
        for (std::size_t j = 0; j < spectrum_.size(); ++j)
            spectrum_[j] = load_relaxed(monitor.spectrum[j]);
        for (std::size_t i = 0; i < carrier_error_.size(); ++i)
            carrier_error_[i] = load_relaxed(monitor.carrier_error[i]);
        modem::Acquisition::TickInput in;
        in.receiving = controls.rx_active.load() != 0;
        const unsigned count = monitor.spectrum_count.load();
        in.new_spectrum = count != seen_spectra_;
        if (in.receiving) seen_spectra_ = count;  // while transmitting it waits
        in.spectrum = &spectrum_;
        in.carrier_error = &carrier_error_;
        in.display_mode = controls.display_mode.load();
        const double f = acquisition_.spectrum_tick(in);
        if (!std::isnan(f)) controls.request_frequency(f);
    }
    void request_acquisition() { acquisition_.request_acquisition(); }
    void cancel_acquisition() { acquisition_.cancel_acquisition(); }
    void request_tuning_at(Controls& controls, int x) {
        controls.request_frequency(acquisition_.tuning_at(x));
    }

    const std::array<double, modem::spectrum_bins>& display_spectrum() const {
        return acquisition_.display_spectrum();
    }
    const std::array<double, modem::carriers>& error_bars() const {
        return acquisition_.error_bars();
    }
    const modem::Acquisition& acquisition() const { return acquisition_; }

  private:
    modem::Acquisition acquisition_;
    unsigned seen_spectra_ = 0;
    std::array<double, modem::spectrum_bins> spectrum_{};
    std::array<double, modem::carriers> carrier_error_{};
};

}  // namespace tarpo::engine
