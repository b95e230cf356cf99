// sim/: the HF channel simulator (clock error, two-path fading, frequency shift, noise) that
// the tool's channel verb, the benchmarks and the tests put between two stations. Pure signal
// processing without files or threads; it includes only sim/, external/ and dsp/.
// The HF channel simulator: what a receiver would hear of a clean transmitted signal after a
// sample-clock error between the two sound cards, two-path fading, a mistuned receiver and
// white noise.
#pragma once

#include <samplerate.h>

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/analytic.h"
#include "sim/fading.h"
#include "sim/rng.h"

namespace tarpo::sim {

// Noise bandwidth to which an SNR figure refers, Hz.
constexpr double snr_bandwidth_hz = 3000.0;
// Data bits per second of the modem: 56 bits per 40 ms frame (the pilot counts as overhead).
constexpr double data_bit_rate = 1400.0;

// Eb/N0 = SNR * 3000 / 1400, in dB: SNR + 3.31 dB.
double ebno_from_snr_db(double snr_db);
double snr_from_ebno_db(double ebno_db);

// Multiplies the analytic signal by a complex exponential: a frequency shift of the whole
// signal, as a receiver tuned off the transmitter gives.
class FrequencyShift {
  public:
    // rate: samples per second, > 0; offset_hz: shift, |offset_hz| < rate / 2.
    FrequencyShift(double rate, double offset_hz) : step_(offset_hz / rate) {}

    std::complex<double> step(std::complex<double> a);

  private:
    double step_;          // cycles per sample
    double cycles_ = 0.0;  // phase, cycles in [0, 1)
};

// Resamples by the factor 1 + ppm * 1e-6 with the best sinc converter of libsamplerate: the
// receiving sound card's clock runs fast by `ppm` parts per million against the sender's, so it
// takes that many more samples per second of signal (a tone comes out lower by the same factor).
// |ppm| <= 50000. Returns the input unchanged for ppm 0.
std::vector<double> resample_clock(std::span<const double> input, double ppm);

// Resamples by `ratio` (output rate / input rate, 1/256 .. 256) with the best sinc converter of
// libsamplerate. Any sample scale; the converter works in float (24-bit mantissas). Throws
// std::runtime_error when the converter fails.
std::vector<double> resample(std::span<const double> input, double ratio);

// White Gaussian noise of a given standard deviation.
class WhiteNoise {
  public:
    // sigma: standard deviation per sample, >= 0, in the units of the signal.
    WhiteNoise(double sigma, Rng rng) : sigma_(sigma), rng_(rng) {}
    double step() { return sigma_ * rng_.gaussian(); }

  private:
    double sigma_;
    Rng rng_;
};

struct ChannelSettings {
    std::optional<double> snr_db;  // in 3000 Hz; none: no noise is added
    double offset_hz = 0.0;        // Hz
    double ppm = 0.0;              // sample-clock error, parts per million
    Fading fading = Fading::none;
    std::uint64_t seed = 1;
};

struct ChannelResult {
    std::vector<double> samples;  // the received signal, same units as the input
    double signal_power = 0.0;    // mean square of the input (= mean received power)
    double noise_power = 0.0;     // variance of the added noise over the full band
};

// Variance of the white noise over the full band (0 .. rate/2) that gives `snr_db` in 3000 Hz
// against a signal of mean power `signal_power`: at 48 kHz eight times the 3 kHz figure.
double noise_power_for_snr(double signal_power, double snr_db, double rate);

// The channel of simulate_channel over an input given in pieces, for inputs too long to hold:
// the memory it keeps is fixed (the clock resampler's, the analytic filter's and the fading
// paths' state). The mean power of the whole input must be known before (a first pass over
// it): it sets the noise. Given the same input in any pieces it gives simulate_channel's
// samples exactly.
class ChannelStream {
  public:
    // settings, rate as for simulate_channel; signal_power: mean square of the whole input,
    // >= 0. Throws std::invalid_argument for a rate, an offset or a clock error out of range.
    ChannelStream(const ChannelSettings& settings, double signal_power, double rate = 48000.0);
    ChannelStream(const ChannelStream&) = delete;
    ChannelStream& operator=(const ChannelStream&) = delete;
    ~ChannelStream();

    // The next input samples: appends the output they complete to `out` (not as many as
    // given: the resampler and the analytic filter hold some back until finish()).
    // Throws std::runtime_error when the resampler fails.
    void push(std::span<const double> input, std::vector<double>& out);
    // The end of the input: appends the rest of the output.
    void finish(std::vector<double>& out);
    double noise_power() const { return noise_power_; }

  private:
    void resampled(const float* samples, std::size_t n, std::vector<double>& out);
    void convert(const double* input, std::size_t n, bool end, std::vector<double>& out);
    void filtered(double x, std::vector<double>& out);
    void emit(double v, std::vector<double>& out);

    ChannelSettings settings_;
    double noise_power_ = 0.0;
    SRC_STATE* clock_ = nullptr;  // null without a clock error
    double clock_ratio_ = 1.0;
    std::unique_ptr<AnalyticFilter> hilbert_;  // null without fading and offset
    std::optional<TwoPathChannel> paths_;
    FrequencyShift shift_;
    std::optional<WhiteNoise> noise_;
    std::size_t filter_steps_ = 0;  // samples into the analytic filter so far
};

// Runs the whole channel over a complete input: clock error, fading, frequency shift, noise, in
// that order. The noise power follows from the input's mean power, since fading keeps the mean
// received power equal to it. Without fading and offset the signal path is exact (no filter);
// otherwise the output is aligned with the input (the analytic filter's delay is removed).
// rate: samples per second of input and output, 8000 .. 192000.
ChannelResult simulate_channel(std::span<const double> input, const ChannelSettings& settings,
                               double rate = 48000.0);

}  // namespace tarpo::sim
