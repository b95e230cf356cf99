// What the receiver shows the user interface. The scalars (the tuned frequency, the phase
// error behind the SNR, the squelch state, the two peaks) are atomics with one writer each;
// the picture (spectrum, spectrum input or scope trace, constellation ring, timing marker,
// carrier errors) is one DisplayFrame that the worker publishes whole after every block and
// the display timer takes whole, the newest at each tick.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

#include "dsp/triple_buffer.h"
#include "modem/analyser.h"
#include "modem/constants.h"

namespace tarpo::engine {

inline constexpr std::size_t constellation_points = 32;  // the ring of the latest symbols

struct DisplayFrame {
    // Magnitude of bin j at (j + 48) x 6.25 Hz; entry 0 unused.
    std::array<double, modem::spectrum_bins> spectrum{};
    unsigned spectrum_count = 0;  // spectra computed so far
    // Receive: samples at 6000 Hz gathered for the spectrum; transmit: entries 0..479 hold a
    // scope trace of the microphone. 16-bit units.
    std::array<double, modem::spectrum_length> spectrum_input{};
    std::array<double, constellation_points> constellation_re{};
    std::array<double, constellation_points> constellation_im{};
    double timing_marker = 0.0;  // (timing fraction - 0.5) x 400, [-200, 200)
    std::array<double, modem::carriers> carrier_error{};  // quarter turns, [-0.5, 0.5)
};

// A peak that the worker raises and a meter takes, each side writing only its own words: a
// take asks for a fresh peak, and the worker's next raise starts it.
class PeakHold {
  public:
    // Worker side.
    void raise(int v) {
        const unsigned asked = takes_.load(std::memory_order_acquire);
        if (asked != round_.load(std::memory_order_relaxed)) {
            peak_.store(v, std::memory_order_relaxed);
            round_.store(asked, std::memory_order_release);
        } else if (v > peak_.load(std::memory_order_relaxed)) {
            peak_.store(v, std::memory_order_relaxed);
        }
    }
    // Meter side: the largest value raised since the last take, or `none` when there was none.
    int take(int none) {
        const unsigned asked = takes_.load(std::memory_order_relaxed);
        const bool fresh = round_.load(std::memory_order_acquire) == asked;
        const int v = peak_.load(std::memory_order_relaxed);
        takes_.store(asked + 1, std::memory_order_release);
        return fresh ? v : none;
    }

  private:
    std::atomic<int> peak_{0};        // worker
    std::atomic<unsigned> round_{0};  // worker: the take its peak counts from
    std::atomic<unsigned> takes_{0};  // meter
};

struct Monitor {
    std::atomic<double> tuned_freq{1500.0};  // Hz, the receiver's centre (pilot) frequency
    std::atomic<double> phase_error{0.0};    // quarter turns squared, decaying sum
    std::atomic<int> squelch_open{0};
    PeakHold rx_peak;  // the largest signed sample of the receiver or the microphone
    PeakHold tx_peak;  // the largest magnitude sent to the tx output, after the drive: 0..32767
    dsp::TripleBuffer<DisplayFrame> display;  // the worker publishes, the display timer takes
};

}  // namespace tarpo::engine
