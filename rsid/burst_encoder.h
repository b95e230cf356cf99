// Produces the identification burst: 15 tones of the codeword, one per symbol, as a steady
// sine of constant amplitude whose phase runs on across symbol boundaries, with a short
// raised-cosine rise and fall at the two ends against key clicks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rsid/code.h"

namespace tarpo::rsid {

class Encoder {
  public:
    // sample_rate: Hz, 6000 .. 192000. amplitude: peak, in sample units (> 0).
    // ramp_seconds: length of each of the rise and the fall, 0 .. 0.04 s.
    // Throws std::invalid_argument outside these ranges.
    Encoder(double sample_rate, double amplitude, double ramp_seconds = 0.005,
            const Codeword& code = tarpo_codeword);

    // Prepares a burst announcing f0 (Hz, the frequency of tone 7); restarts a burst in
    // progress. f0 is held inside [lowest_f0, highest_f0]; a non-numeric f0 gives 1500 Hz.
    void start(double f0);
    // Abandons any burst.
    void stop() { position_ = length_; }

    bool active() const { return position_ < length_; }
    // Burst length in samples (at the constructor's rate).
    std::int64_t length() const { return length_; }
    // The announced frequency of the prepared burst, after clamping.
    double frequency() const { return f0_; }

    // Writes the next n samples of the burst into out; past its end, zeros.
    void generate(double* out, std::size_t n);

  private:
    // First sample of symbol k (0..15): symbol boundaries are computed from the start, so the
    // non-integer symbol length (4458.2 samples at 48 kHz) does not drift.
    std::int64_t symbol_start(int k) const;

    double sample_rate_;
    double amplitude_;
    std::int64_t ramp_samples_;
    Codeword code_;
    std::int64_t length_;

    double f0_ = 1500.0;
    std::int64_t position_;  // next sample to produce, 0 .. length_
    int symbol_ = 0;         // symbol that position_ lies in
    std::int64_t next_boundary_ = 0;
    double phase_ = 0.0;  // cycles, [0, 1)
    double step_ = 0.0;   // cycles per sample of the current symbol's tone
};

}  // namespace tarpo::rsid
