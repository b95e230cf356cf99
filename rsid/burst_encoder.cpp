#include "rsid/burst_encoder.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "rsid/burst.h"

namespace tarpo::rsid {

Encoder::Encoder(double sample_rate, double amplitude, double ramp_seconds, const Codeword& code)
    : sample_rate_(sample_rate), amplitude_(amplitude), code_(code) {
    if (!(sample_rate >= 6000.0 && sample_rate <= 192000.0))
        throw std::invalid_argument("rsid::Encoder: sample rate out of range");
    if (!(amplitude > 0.0)) throw std::invalid_argument("rsid::Encoder: amplitude must be > 0");
    if (!(ramp_seconds >= 0.0 && ramp_seconds <= 0.04))
        throw std::invalid_argument("rsid::Encoder: ramp length out of range");
    ramp_samples_ = static_cast<std::int64_t>(std::lround(ramp_seconds * sample_rate));
    length_ = symbol_start(code_length);
    position_ = length_;
}

std::int64_t Encoder::symbol_start(int k) const {
    return static_cast<std::int64_t>(
        std::llround(k * symbol_reference_samples * sample_rate_ / reference_rate));
}

void Encoder::start(double f0) {
    f0_ = std::isfinite(f0) ? std::clamp(f0, lowest_f0, highest_f0) : 1500.0;
    position_ = 0;
    symbol_ = -1;
    next_boundary_ = 0;
    phase_ = 0.0;
}

void Encoder::generate(double* out, std::size_t n) {
    constexpr double two_pi = 2.0 * std::numbers::pi;
    for (std::size_t i = 0; i < n; ++i) {
        double& y = out[i];
        if (position_ >= length_) {
            y = 0.0;
            continue;
        }
        if (position_ == next_boundary_) {
            ++symbol_;
            next_boundary_ = symbol_start(symbol_ + 1);
            step_ = (f0_ + (code_[symbol_] - centre_tone) * tone_spacing) / sample_rate_;
        }
        // Rise over the first ramp_samples_, fall over the last: 0.5 (1 - cos) shapes.
        double gain = 1.0;
        const std::int64_t from_end = length_ - 1 - position_;
        const std::int64_t edge = std::min(position_, from_end);
        if (edge < ramp_samples_) {
            gain = 0.5 * (1.0 - std::cos(std::numbers::pi * (edge + 0.5) / ramp_samples_));
        }
        y = amplitude_ * gain * std::sin(two_pi * phase_);
        phase_ += step_;
        if (phase_ >= 1.0) phase_ -= 1.0;
        ++position_;
    }
}

}  // namespace tarpo::rsid
