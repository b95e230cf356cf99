// Pitch estimation by normalised cross-correlation, with a check against picking a multiple
// of the true period and a pull towards the previous frame's period.
#pragma once

#include <array>
#include <cstddef>

#include "codec/codec_constants.h"

namespace tarpo::codec {

struct PitchEstimate {
    double lag = 0.0;    // period in samples at 8 kHz, shortest_lag..longest_lag (fractional)
    double score = 0.0;  // normalised correlation at that period, -1..1
};

class PitchEstimator {
  public:
    static constexpr int shortest_lag = 20;    // 400 Hz
    static constexpr int longest_lag = 160;    // 50 Hz
    static constexpr int window_length = 160;  // correlation window, samples (20 ms)
    // Samples the estimator reads on each side of the centre.
    static constexpr std::size_t reach = window_length / 2 + longest_lag / 2 + 1;

    // x: low-passed speech; centre: the instant the estimate is for, with reach samples of x
    // on each side. prev_lag: the period chosen for the previous voiced instant, or 0.
    PitchEstimate estimate(const double* x, std::size_t centre, double prev_lag);

    // Normalised correlation between the half-windows around centre that lie lag samples
    // apart (0 for a silent window).
    static double correlation(const double* x, std::size_t centre, int lag);

  private:
    // Best local maximum of ncc_ over lags lo..hi (inclusive, clamped to the search range).
    int peak_in(int lo, int hi) const;

    std::array<double, longest_lag + 2> ncc_{};
};

}  // namespace tarpo::codec
