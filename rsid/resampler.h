// Rational resampler from the receive spectrum's 6000 Hz to the burst's reference rate of
// 11025 Hz (up 147, down 80), so that a symbol is exactly 1024 samples and a half symbol
// exactly 512: the analysis then slides in whole samples and never drifts.
#pragma once

#include <array>

namespace tarpo::rsid {

class Resampler {
  public:
    static constexpr int up = 147;
    static constexpr int down = 80;
    static constexpr int input_block = 960;                       // 160 ms at 6000 Hz
    static constexpr int output_block = input_block * up / down;  // 1764: 160 ms at 11025 Hz
    static constexpr int taps_per_phase = 16;                     // input samples per output
    static_assert(input_block * up % down == 0);

    // The interpolation filter (Kaiser-windowed sinc at 147 x 6000 Hz) passes 0 .. 2800 Hz
    // flat and has its 6 dB point at cutoff_hz. Input images below 6000 Hz land outside the
    // 300..2800 Hz that the detector analyses (6000 - f >= 3200 Hz), so only images from
    // about 6000 Hz upwards, which would alias back in band, must be stopped.
    static constexpr double cutoff_hz = 4150.0;
    static constexpr double kaiser_beta = 8.0;  // about 80 dB stopband

    Resampler();
    // in: 960 samples at 6000 Hz; out: 1764 samples at 11025 Hz, delayed by about 8 input
    // samples (1.3 ms). History carries over from call to call.
    void process(const double* in, double* out);
    void reset();

  private:
    // phase p, tap k: prototype coefficient p + 147 k, scaled so that each phase has the
    // passband gain 1.
    std::array<std::array<double, taps_per_phase>, up> taps_{};
    // The last taps_per_phase - 1 input samples of the previous call, then the new block.
    std::array<double, taps_per_phase - 1 + input_block> line_{};
};

}  // namespace tarpo::rsid
