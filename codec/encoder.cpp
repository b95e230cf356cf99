#include "codec/encoder.h"

#include <algorithm>
#include <cmath>

namespace tarpo::codec {

namespace {

constexpr double kDcPole = 0.98;        // DC blocker, corner ~25 Hz
constexpr double kPreEmphasis = 0.9;    // LPC analysis of 1 - 0.9 z^-1 filtered speech
constexpr double kLagWindowHz = 30.0;   // Gaussian lag window: widens sharp formants
constexpr double kNoiseFloor = 1.0001;  // white-noise correction of r[0]
constexpr double kBandwidthExpansion = 0.994;
constexpr double kVoicingThreshold = 0.65;  // normalised correlation for "voiced"
constexpr double kVoicingMinDb = -60.0;     // quieter halves are sent unvoiced

Biquad butterworth_lowpass(double fc) {
    const double k = std::tan(kPi * fc / kSampleRate);
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    Biquad b;
    b.b0 = k * k * norm;
    b.b1 = 2.0 * b.b0;
    b.b2 = b.b0;
    b.a1 = 2.0 * (k * k - 1.0) * norm;
    b.a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
    return b;
}

}  // namespace

Encoder::Encoder() : lp1_(butterworth_lowpass(1000.0)), lp2_(butterworth_lowpass(1000.0)) {
    for (std::size_t n = 0; n < kLpcWindow; ++n)
        lpc_window_[n] = 0.54 - 0.46 * std::cos(2.0 * kPi * (n + 0.5) / kLpcWindow);
    energy_window_power_ = 0.0;
    for (std::size_t n = 0; n < kEnergyWindow; ++n) {
        energy_window_[n] = 0.5 - 0.5 * std::cos(2.0 * kPi * (n + 0.5) / kEnergyWindow);
        energy_window_power_ += energy_window_[n] * energy_window_[n];
    }
    for (std::size_t k = 0; k <= kLpcOrder; ++k) {
        const double a = 2.0 * kPi * kLagWindowHz * static_cast<double>(k) / kSampleRate;
        lag_window_[k] = std::exp(-0.5 * a * a);
    }
    prev_lsf_ = flat_lsf();
}

double Encoder::energy_at(std::size_t centre) const {
    double s = 0.0;
    const std::size_t start = centre - kEnergyWindow / 2;
    for (std::size_t n = 0; n < kEnergyWindow; ++n) {
        const double v = speech_[start + n] * energy_window_[n];
        s += v * v;
    }
    const double ms = s / energy_window_power_;
    return ms > 1e-14 ? 10.0 * std::log10(ms) : -140.0;
}

void Encoder::analyse_lpc() {
    std::array<double, kLpcWindow> w{};
    const std::size_t start = kEnd - kLpcWindow / 2;
    for (std::size_t n = 0; n < kLpcWindow; ++n)
        w[n] = (speech_[start + n] - kPreEmphasis * speech_[start + n - 1]) * lpc_window_[n];
    auto r = autocorrelate(w);
    if (!(r[0] > 1e-10)) {  // below about -90 dBFS: no envelope worth sending
        last_.lsf = flat_lsf();
        prev_lsf_ = last_.lsf;
        return;
    }
    r[0] *= kNoiseFloor;
    for (std::size_t k = 1; k <= kLpcOrder; ++k) r[k] *= lag_window_[k];
    Lpc a{};
    levinson(r, a);
    double g = 1.0;
    for (std::size_t k = 1; k <= kLpcOrder; ++k) {
        g *= kBandwidthExpansion;
        a[k] *= g;
    }
    Lsf lsf = prev_lsf_;
    if (!lpc_to_lsf(a, lsf)) lsf = prev_lsf_;
    last_.lsf = lsf;
    prev_lsf_ = lsf;
}

FrameIndices Encoder::analyse(std::span<const std::int16_t, kFrameSamples> speech) {
    std::copy(speech_.begin() + kFrameSamples, speech_.end(), speech_.begin());
    std::copy(lowpass_.begin() + kFrameSamples, lowpass_.end(), lowpass_.begin());
    for (std::size_t n = 0; n < kFrameSamples; ++n) {
        const double x = speech[n] / 32768.0;
        const double y = x - dc_x1_ + kDcPole * dc_y1_;
        dc_x1_ = x;
        dc_y1_ = y;
        speech_[kFrameSamples + n] = y;
        lowpass_[kFrameSamples + n] = lp2_.step(lp1_.step(y));
    }

    const std::array<std::size_t, 2> centre = {kEnd - kFrameSamples / 2, kEnd};
    FrameIndices f;
    for (std::size_t h = 0; h < 2; ++h) last_.energy_db[h] = energy_at(centre[h]);

    // Pitch at both half-frame instants; the frame carries the later voiced one.
    std::array<PitchEstimate, 2> p{};
    double track = prev_lag_;
    for (std::size_t h = 0; h < 2; ++h) {
        p[h] = pitch_.estimate(lowpass_, centre[h], track);
        last_.voicing[h] = p[h].score;
        const bool v = p[h].score >= kVoicingThreshold && last_.energy_db[h] >= kVoicingMinDb;
        f.voiced[h] = v ? 1 : 0;
        track = v ? p[h].lag : 0.0;
    }
    prev_lag_ = track;
    const double lag = f.voiced[1] ? p[1].lag : (f.voiced[0] ? p[0].lag : p[1].lag);
    last_.pitch_hz = kSampleRate / lag;

    analyse_lpc();

    for (std::size_t h = 0; h < 2; ++h) f.energy[h] = energy_index(last_.energy_db[h]);
    f.pitch = pitch_index(last_.pitch_hz);
    f.lsf = quantise_lsf(last_.lsf);
    return f;
}

void Encoder::encode(std::span<const std::int16_t, kFrameSamples> speech,
                     std::span<std::uint8_t, kFrameBits> bits) {
    pack_frame(analyse(speech), bits);
}

}  // namespace tarpo::codec
