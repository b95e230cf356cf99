// sim/: the HF channel simulator (clock error, two-path fading, frequency shift, noise) that
// the tool's channel verb, the benchmarks and the tests put between two stations. Pure signal
// processing without files or threads; it includes only sim/, external/ and dsp/.
// The HF channel simulator: what a receiver would hear of a clean transmitted signal after a
// sample-clock error between the two sound cards, two-path fading, a mistuned receiver and
// white noise.
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

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

// Runs the whole channel over a complete input: clock error, fading, frequency shift, noise, in
// that order. The noise power follows from the input's mean power, since fading keeps the mean
// received power equal to it. Without fading and offset the signal path is exact (no filter);
// otherwise the output is aligned with the input (the analytic filter's delay is removed).
// rate: samples per second of input and output, 8000 .. 192000.
ChannelResult simulate_channel(std::span<const double> input, const ChannelSettings& settings,
                               double rate = 48000.0);

}  // namespace tarpo::sim
