// The two-path model of an ionospheric HF channel: two independent Rayleigh-faded paths of equal
// mean power, each with a Gaussian Doppler spectrum, the second delayed against the first.
#pragma once

#include <array>
#include <complex>
#include <cstdint>

#include "sim/rng.h"

namespace tarpo::sim {

// The random complex gain of one path: complex Gaussian (so its magnitude is Rayleigh
// distributed), with a Gaussian power spectrum centred on 0 Hz whose two-sigma width is the
// Doppler spread. Built by filtering white complex noise with a Gaussian filter at a low rate
// (about 32 samples per hertz of spread) and interpolating linearly to the full rate; the filter
// is filled before the first sample, so the process is stationary from the start.
class DopplerGain {
  public:
    // rate: output samples per second, > 0.
    // spread_hz: two-sigma width of the Doppler spectrum, 0 < spread_hz <= rate / 64.
    // mean_power: E|g|^2, >= 0.
    DopplerGain(double rate, double spread_hz, double mean_power, Rng rng);

    std::complex<double> step();

  private:
    static constexpr int max_taps = 129;

    std::complex<double> filter_next();

    std::array<double, max_taps> taps_{};
    int ntaps_ = 0;
    // The last ntaps_ white samples, stored twice so that they are always contiguous.
    std::array<std::complex<double>, 2 * max_taps> ring_{};
    int pos_ = 0;
    int decimation_ = 1;  // output samples per low-rate sample
    int phase_ = 0;       // 0 .. decimation_-1, position between prev_ and next_
    std::complex<double> prev_{}, next_{};
    Rng rng_;
};

// A fading profile: differential delay of the second path and Doppler spread of each path.
struct FadingProfile {
    double delay_s = 0.0;    // seconds
    double spread_hz = 0.0;  // Hz, two-sigma width
};

enum class Fading { none, good, moderate, poor };

// good: 0.5 ms, 0.1 Hz; moderate: 1 ms, 0.5 Hz; poor: 2 ms, 1 Hz. `none` gives zeros.
FadingProfile fading_profile(Fading fading);
const char* fading_name(Fading fading);

// Two-path channel on the analytic signal: out(n) = g1(n) a(n) + g2(n) a(n - D), each path with
// mean power 1/2, so the mean received power equals the input power.
class TwoPathChannel {
  public:
    static constexpr int max_delay = 1023;  // samples

    // rate: samples per second, > 0; profile.delay_s * rate rounds to 0..max_delay samples;
    // profile.spread_hz as for DopplerGain. The two paths draw from streams 2 and 3 of `seed`.
    TwoPathChannel(double rate, FadingProfile profile, std::uint64_t seed);

    std::complex<double> step(std::complex<double> a);

    int delay_samples() const { return delay_; }

  private:
    DopplerGain path1_, path2_;
    int delay_ = 0;
    std::array<std::complex<double>, max_delay + 1> line_{};
    int pos_ = 0;
};

}  // namespace tarpo::sim
