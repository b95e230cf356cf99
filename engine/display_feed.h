// The display timer's side of the engine: each tick it takes the newest picture the worker
// published, hands the acquisition its spectrum, sends a served acquisition or a right click
// to the tuning as a request, and prepares the arrays the graph draws for the current view
// (the spectrum smoothed, the acquisition metric, the carriers' error bars, the waterfall's
// row). The graph draws from the same picture.
#pragma once

#include <array>
#include <cmath>

#include "engine/controls.h"
#include "engine/display_mode.h"
#include "engine/monitor.h"
#include "modem/acquisition.h"
#include "modem/constants.h"

namespace tarpo::engine {

class DisplayFeed {
  public:
    // The display timer's thread only: it is the picture's one reader.
    void tick(Controls& controls, Monitor& monitor) {
        frame_ = monitor.display.front();
        const bool receiving = controls.rx_active.load() != 0;
        const bool new_spectrum = frame_.spectrum_count != seen_spectra_;
        if (receiving) seen_spectra_ = frame_.spectrum_count;  // while transmitting it waits
        const double f = acquisition_.spectrum_tick(receiving, new_spectrum, frame_.spectrum);
        if (!std::isnan(f)) controls.request_frequency(f);
        prepare(controls.display_mode.load());
    }
    void request_acquisition() { acquisition_.request_acquisition(); }
    void cancel_acquisition() { acquisition_.cancel_acquisition(); }
    void request_tuning_at(Controls& controls, int x) {
        controls.request_frequency(acquisition_.tuning_at(x));
    }

    const std::array<double, modem::spectrum_bins>& display_spectrum() const {
        return display_spectrum_;
    }
    const std::array<double, modem::carriers>& error_bars() const { return error_bars_; }
    const modem::Acquisition& acquisition() const { return acquisition_; }
    // The picture of the last tick.
    const DisplayFrame& frame() const { return frame_; }

  private:
    // The spectrum view and the error bars settle over about ten ticks; the waterfall takes
    // each spectrum as it is.
    void prepare(int display_mode) {
        switch (display_mode) {
            case engine::display_spectrum:
                for (std::size_t j = 0; j < display_spectrum_.size(); ++j)
                    display_spectrum_[j] = (display_spectrum_[j] * 9 + frame_.spectrum[j]) * 0.1;
                break;
            case display_freqacq:
                display_spectrum_ = acquisition_.acq_metric();
                break;
            case display_phase_error:
                for (std::size_t i = 0; i < error_bars_.size(); ++i)
                    error_bars_[i] = (error_bars_[i] * 9 + frame_.carrier_error[i] * 400) * 0.1;
                break;
            case display_waterfall:
            case display_scrolling_waterfall:
                display_spectrum_ = frame_.spectrum;
                break;
            default:
                break;
        }
    }

    modem::Acquisition acquisition_;
    unsigned seen_spectra_ = 0;
    DisplayFrame frame_;
    std::array<double, modem::spectrum_bins> display_spectrum_{};
    std::array<double, modem::carriers> error_bars_{};
};

}  // namespace tarpo::engine
