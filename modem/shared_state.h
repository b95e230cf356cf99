// The variables that the user-interface thread and the audio worker share. Each is written
// whole by one side and polled by the other; making them atomics keeps that well defined.
// Flags and counters are plain loads and stores (sequentially consistent; they are polled at
// most a few hundred times a second). The display arrays are relaxed atomics: a picture that
// mixes two updates is acceptable, a data race is not.
#pragma once

#include <array>
#include <atomic>
#include <complex>
#include <cstddef>

namespace tarpo {

using ComplexSample = std::complex<double>;

template <std::size_t N>
using RelaxedDoubles = std::array<std::atomic<double>, N>;

inline void store_relaxed(std::atomic<double>& a, double v) {
    a.store(v, std::memory_order_relaxed);
}
inline double load_relaxed(const std::atomic<double>& a) {
    return a.load(std::memory_order_relaxed);
}

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

struct SharedState {
    // Phase control: the user interface asks, the worker follows at its next block.
    std::atomic<int> rx_active{1};
    std::atomic<int> tx_active{0};
    std::atomic<int> worker_run{1};

    // Toggle buttons.
    std::atomic<int> analog_mode{0};
    std::atomic<int> alc_on{0};
    std::atomic<int> split_on{0};
    std::atomic<int> txid_on{0};
    std::atomic<int> rxid_on{0};

    std::atomic<int> display_mode{display_waterfall};
    std::atomic<int> constellation_carrier{7};  // 0..14

    // Centre (pilot) frequency in Hz. Written by frequency tracking, acquisition, right click
    // and RSID detection; the tracking adds its correction atomically so that a click landing
    // between its read and its write is not lost.
    std::atomic<double> tuned_freq{1500.0};
    std::atomic<int> retune_request{0};
    std::atomic<int> acq_request{0};  // 0 none, 1 acquire strongest, 2 set by right click

    // 1: frames from the enhanced receiver, 0: the design's (Settings menu). The worker hands
    // the choice to its station at its next receive block.
    std::atomic<int> enhanced_receiver{0};

    std::atomic<int> sq_level{7};  // 0..15
    std::atomic<int> squelch_open{0};
    std::atomic<double> phase_error{0.0};  // quarter turns squared, decaying sum
    std::atomic<int> frame_ready{0};
    std::atomic<int> spectrum_ready{0};
    std::atomic<int> peak_level{0};  // largest signed sample seen; the meter sets -1

    // Sound devices: list indices, or -1 for the system default.
    std::atomic<int> tx_output_device{0};
    std::atomic<int> voice_input_device{0};
    std::atomic<int> voice_output_device{0};
    std::atomic<int> rx_input_device{0};

    std::atomic<int> ptt_port_choice{0};

    // Arrays the worker writes and the display reads.
    RelaxedDoubles<32> constellation_re{};
    RelaxedDoubles<32> constellation_im{};
    std::atomic<int> constellation_pos{0};   // 0..31, next write position
    std::atomic<double> timing_marker{0.0};  // (timing fraction - 0.5) x 400, [-200, 200)
    RelaxedDoubles<15> carrier_error{};      // quarter turns, [-0.5, 0.5)
    // Receive: samples at 6000 Hz gathered for the spectrum; transmit: entries 0..479 hold a
    // scope trace of the microphone. 16-bit units.
    RelaxedDoubles<960> spectrum_input{};
    RelaxedDoubles<400> spectrum{};  // magnitude of bin j at (j + 48) x 6.25 Hz; entry 0 unused
};

}  // namespace tarpo
