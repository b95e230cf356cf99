#include "sim/fading.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tarpo::sim {

namespace {

// Low-rate samples per hertz of spread. With this many, neighbouring low-rate samples are
// correlated by exp(-pi^2 / (2 * 32^2)) = 0.995, so linear interpolation between them loses at
// most 0.01 dB of power and adds no visible spectral images.
constexpr double low_rate_per_hz = 32.0;
// The Gaussian filter is cut at this many standard deviations: exp(-25/2) = 4e-6.
constexpr double filter_sigmas = 5.0;

}  // namespace

DopplerGain::DopplerGain(double rate, double spread_hz, double mean_power, Rng rng) : rng_(rng) {
    if (!(rate > 0.0) || !(spread_hz > 0.0) || spread_hz > rate / 64.0 || !(mean_power >= 0.0))
        throw std::invalid_argument("DopplerGain: rate, spread or power out of range");
    decimation_ = static_cast<int>(std::max(1.0, std::round(rate / (low_rate_per_hz * spread_hz))));
    const double low_rate = rate / decimation_;
    // A Gaussian power spectrum of standard deviation sigma_f is the squared response of a
    // Gaussian filter whose impulse response has standard deviation 1 / (2 sqrt(2) pi sigma_f).
    const double sigma_f = spread_hz / 2.0;
    const double sigma_t = low_rate / (2.0 * std::numbers::sqrt2 * std::numbers::pi * sigma_f);
    const int half = static_cast<int>(std::ceil(filter_sigmas * sigma_t));
    ntaps_ = 2 * half + 1;
    if (ntaps_ > max_taps) throw std::invalid_argument("DopplerGain: filter too long");
    double energy = 0.0;
    for (int i = 0; i < ntaps_; ++i) {
        const double t = (i - half) / sigma_t;
        taps_[static_cast<std::size_t>(i)] = std::exp(-0.5 * t * t);
        energy += taps_[static_cast<std::size_t>(i)] * taps_[static_cast<std::size_t>(i)];
    }
    // White input of unit power: the output power is the sum of the squared taps.
    const double scale = std::sqrt(mean_power / energy);
    for (int i = 0; i < ntaps_; ++i) taps_[static_cast<std::size_t>(i)] *= scale;

    for (int i = 0; i < ntaps_ - 1; ++i) filter_next();
    prev_ = filter_next();
    next_ = filter_next();
}

std::complex<double> DopplerGain::filter_next() {
    // Unit-power complex white noise: each part has variance 1/2.
    const std::complex<double> w(rng_.gaussian() * std::numbers::sqrt2 / 2.0,
                                 rng_.gaussian() * std::numbers::sqrt2 / 2.0);
    ring_[static_cast<std::size_t>(pos_)] = w;
    ring_[static_cast<std::size_t>(pos_ + ntaps_)] = w;
    if (++pos_ == ntaps_) pos_ = 0;
    // The ntaps_ newest samples are ring_[pos_ .. pos_ + ntaps_ - 1]; the filter is symmetric,
    // so their order against the taps does not matter.
    std::complex<double> sum{};
    for (int i = 0; i < ntaps_; ++i)
        sum += taps_[static_cast<std::size_t>(i)] * ring_[static_cast<std::size_t>(pos_ + i)];
    return sum;
}

std::complex<double> DopplerGain::step() {
    const double t = static_cast<double>(phase_) / decimation_;
    const std::complex<double> g = prev_ + (next_ - prev_) * t;
    if (++phase_ == decimation_) {
        phase_ = 0;
        prev_ = next_;
        next_ = filter_next();
    }
    return g;
}

FadingProfile fading_profile(Fading fading) {
    switch (fading) {
        case Fading::good:
            return {0.5e-3, 0.1};
        case Fading::moderate:
            return {1e-3, 0.5};
        case Fading::poor:
            return {2e-3, 1.0};
        case Fading::none:
            break;
    }
    return {};
}

const char* fading_name(Fading fading) {
    switch (fading) {
        case Fading::good:
            return "good";
        case Fading::moderate:
            return "moderate";
        case Fading::poor:
            return "poor";
        case Fading::none:
            break;
    }
    return "none";
}

TwoPathChannel::TwoPathChannel(double rate, FadingProfile profile, std::uint64_t seed)
    : path1_(rate, profile.spread_hz, 0.5, Rng(seed, 2)),
      path2_(rate, profile.spread_hz, 0.5, Rng(seed, 3)) {
    const double d = std::round(profile.delay_s * rate);
    if (!(d >= 0.0) || d > max_delay)
        throw std::invalid_argument("TwoPathChannel: delay out of range");
    delay_ = static_cast<int>(d);
}

std::complex<double> TwoPathChannel::step(std::complex<double> a) {
    line_[static_cast<std::size_t>(pos_)] = a;
    int old = pos_ - delay_;
    if (old < 0) old += max_delay + 1;
    const std::complex<double> delayed = line_[static_cast<std::size_t>(old)];
    if (++pos_ == max_delay + 1) pos_ = 0;
    return path1_.step() * a + path2_.step() * delayed;
}

}  // namespace tarpo::sim
