// Rate converters between the 48000 Hz sound cards, the 12000 Hz receiver and the 8000 Hz
// speech codec. Each keeps its own filter line across blocks and across changes between
// transmit and receive.
#pragma once

#include <cstdint>

#include "dsp/filters.h"

namespace tarpo::dsp {

// 48000 Hz to 12000 Hz for the receiver: four samples in, one out, not rounded.
class Decimator4 {
  public:
    double decimate4(const std::int16_t* four);

  private:
    DelayLine<double, 30> line_;
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
