// Real signal to analytic signal (the real part plus j times its Hilbert transform), the form in
// which a single-sideband path can be shifted in frequency and faded: multiplying the analytic
// signal by a complex gain or a complex exponential and taking the real part again moves or
// scales the spectrum without an image.
#pragma once

#include <array>
#include <complex>

namespace tarpo::sim {

class AnalyticFilter {
  public:
    // Length of the Hilbert transformer, odd: a Kaiser-windowed ideal transformer of 1023 taps
    // (beta 8) keeps the image of a positive frequency at least 70 dB down from about 120 Hz
    // to (rate/2 - 120 Hz); below that the transformer cannot separate the two sidebands.
    static constexpr int taps = 1023;
    // Delay of the output against the input, samples: the real part is the input delayed by
    // exactly this much.
    static constexpr int delay = (taps - 1) / 2;

    AnalyticFilter();

    // Takes input sample n and returns the analytic sample n - delay.
    std::complex<double> step(double x);

    // The transformer's tap at offset k from the centre, -delay <= k <= delay: zero for even k,
    // odd-symmetric (h(-k) = -h(k)).
    double tap(int k) const;

  private:
    // Taps at the odd offsets 1, 3, ..., delay (the even ones are zero).
    std::array<double, (delay + 1) / 2> odd_taps_{};
    // The last `taps` inputs, stored twice so that they are always contiguous in memory.
    std::array<double, 2 * taps> ring_{};
    int pos_ = 0;
};

}  // namespace tarpo::sim
