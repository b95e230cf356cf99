// Frame sync from the pilot's known pattern, and a check that the pilot is where it should be.
//
// The pilot keeps its phase at the first symbol of a frame and reverses it at the second, so
// the roles of the symbols alternate. FrameSync keeps that alternation as a flywheel and lets
// the pilot's soft decisions only vote on its phase: one wrong pilot decision, or a few weak
// ones in a fade, neither slips nor doubles a frame, while a pattern that has really moved (the
// symbol clock gained or lost a symbol) wins the vote within about four symbols.
//
// CarrierLock watches the carriers either side of the pilot: a receiver tuned a whole carrier
// spacing (75 Hz) off sees the alternating pattern on a neighbour, not on its own pilot, and the
// frequency tracking, blind to whole quarter turns, never notices.
#pragma once

#include <array>
#include <complex>

#include "modem/constants.h"

namespace tarpo::modem {

class FrameSync {
  public:
    // pilot_llr: the log-likelihood ratio of a reversal at this symbol (positive: reversal).
    // Returns true when this symbol is the second of a frame.
    bool symbol(double pilot_llr);
    // A symbol the front end did not deliver: the pattern moves on by one.
    void skip() { next_second_ = !next_second_; }
    void reset() { *this = FrameSync(); }

    double score() const { return score_; }  // the vote for the present phase, >= 0

  private:
    bool next_second_ = false;
    double score_ = 0.0;
};

class CarrierLock {
  public:
    // One symbol's 15 carrier samples. Returns the retune in Hz that puts the pilot back on
    // the centre carrier: +75 when the pattern sits on the carrier above, -75 below, else 0.
    double symbol(const std::array<std::complex<double>, carriers>& sample);
    void reset() { *this = CarrierLock(); }

    // The alternation scores of carriers 6, 7 and 8: about 20 on the pilot of a clean signal,
    // about 2 (root mean square) on a data carrier or noise.
    const std::array<double, 3>& scores() const { return score_; }

  private:
    std::array<double, 3> score_{};
    std::array<std::complex<double>, 3> last_{};
    int run_ = 0;  // symbols in a row that found the pattern on one neighbour
    int side_ = 0;
};

}  // namespace tarpo::modem
