// The 400-bin spectrum of the receiver audio (6.25 Hz per bin, bin j at (j + 48) x 6.25 Hz),
// computed on the worker from 160 ms at 6000 Hz.
#pragma once

#include <array>

namespace tarpo::modem {

inline constexpr int spectrum_bins = 400;
inline constexpr int spectrum_length = 960;  // 160 ms at 6000 Hz

// Frequency in Hz that bin (graph column) j stands for.
constexpr double bin_frequency(int j) {
    return (j + 48) * 6.25;
}

// Worker side: tables built once, then only read.
class SpectrumAnalyser {
  public:
    SpectrumAnalyser();
    // Direct 960-point DFT of the Hann-windowed input at DFT bins 49..447; output[j] for
    // j = 1..399 is the magnitude (a sine of amplitude A on a bin gives A/4). output[0] is
    // not touched.
    void compute(const double* input, double* output) const;

    const std::array<double, spectrum_length>& hann_window() const { return hann_window_; }

  private:
    std::array<double, spectrum_length> hann_window_{};
    std::array<double, spectrum_length> dft_sin_{};
    std::array<double, spectrum_length> dft_cos_{};
};

}  // namespace tarpo::modem
