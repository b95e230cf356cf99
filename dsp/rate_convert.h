// Rate converters between the 48000 Hz sound cards, the 12000 Hz receiver and the 8000 Hz
// speech codec. Each keeps its own filter line across blocks and across changes between
// transmit and receive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dsp/filters.h"

namespace tarpo::dsp {

// 48000 Hz to 12000 Hz for the receiver: four samples in, one out, not rounded.
class Decimator4 {
  public:
    double decimate4(const std::int16_t* four);
    // n outputs from 4n samples, the same values as n calls of decimate4. Each output's sum
    // runs in the same order, but four outputs are summed side by side, so that the adds of
    // one no longer wait on those of the one before.
    void decimate(const std::int16_t* in, double* out, std::size_t n);

  private:
    static constexpr std::size_t taps = lowpass30.size();
    static constexpr std::size_t kept = taps - 4;  // samples before an output's newest four
    static constexpr std::size_t chunk = 48;       // outputs per pass over a local window

    static void window_sums(const double* window, double* out, std::size_t n);

    std::array<double, kept> history_{};  // the last samples taken, oldest first
};

// 48000 Hz to 8000 Hz for the speech encoder: six samples in, one 16-bit sample out.
class Decimator6 {
  public:
    std::int16_t decimate6(const std::int16_t* six);

  private:
    DelayLine<double, 30> line_;
};

// 8000 Hz to 48000 Hz for the decoded speech: one sample in, six out (polyphase, 5 taps
// per phase of the same low-pass).
class Interpolator6 {
  public:
    void interpolate6(std::int16_t* out, std::int16_t x);

  private:
    DelayLine<double, 5> line_;
};

}  // namespace tarpo::dsp
