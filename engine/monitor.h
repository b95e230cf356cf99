// What the receiver shows the user interface: the tuned frequency, phase error (SNR), level
// peak, squelch state, constellation ring, timing marker, carrier errors, the spectrum's input
// and the spectrum. The worker writes each value whole; the display reads them at its ticks.
// Flags and figures are plain atomics; the arrays are relaxed atomics: a picture that mixes
// two updates is acceptable, a data race is not.
#pragma once

#include <array>
#include <atomic>
#include <complex>
#include <cstddef>

namespace tarpo::engine {

template <std::size_t N>
using RelaxedDoubles = std::array<std::atomic<double>, N>;

inline void store_relaxed(std::atomic<double>& a, double v) {
    a.store(v, std::memory_order_relaxed);
}
inline double load_relaxed(const std::atomic<double>& a) {
    return a.load(std::memory_order_relaxed);
}

struct Monitor {
    std::atomic<double> tuned_freq{1500.0};  // Hz, the receiver's centre (pilot) frequency
    std::atomic<double> phase_error{0.0};    // quarter turns squared, decaying sum
    std::atomic<int> squelch_open{0};
    // Largest signed sample seen since the meter last took it (the meter sets it to -1).
    std::atomic<int> peak_level{0};
    std::atomic<unsigned> spectrum_count{0};  // spectra computed so far
    // Largest magnitude sent to the tx output since the meter last took it (it sets it to 0),
    // after the drive: 0..32767.
    std::atomic<int> tx_peak{0};

    RelaxedDoubles<32> constellation_re{};
    RelaxedDoubles<32> constellation_im{};
    std::atomic<double> timing_marker{0.0};  // (timing fraction - 0.5) x 400, [-200, 200)
    RelaxedDoubles<15> carrier_error{};      // quarter turns, [-0.5, 0.5)
    // Receive: samples at 6000 Hz gathered for the spectrum; transmit: entries 0..479 hold a
    // scope trace of the microphone. 16-bit units.
    RelaxedDoubles<960> spectrum_input{};
    RelaxedDoubles<400> spectrum{};  // magnitude of bin j at (j + 48) x 6.25 Hz; entry 0 unused

    // Worker side.
    void raise_peak(int v) {
        if (v >= peak_level.load()) peak_level.store(v);
    }
    void raise_tx_peak(int v) {
        if (v > tx_peak.load()) tx_peak.store(v);
    }
    void add_constellation_point(std::complex<double> p) {
        store_relaxed(constellation_re[constellation_pos_], p.real());
        store_relaxed(constellation_im[constellation_pos_], p.imag());
        constellation_pos_ = (constellation_pos_ + 1) % constellation_re.size();
    }

  private:
    std::size_t constellation_pos_ = 0;  // worker only: the next point's entry
};

}  // namespace tarpo::engine
