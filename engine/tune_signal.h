// The steady signal Tune sends: the modem's 15 carriers around 1500 Hz, 75 Hz apart, the pilot
// (the centre one) 21/15 as strong as the others as in the modem, with fixed phases, at the
// modem's mean power, so that the drive set on it below the rig's ALC holds for the modem's
// signal. The phases follow Newman's rule (pi k^2 / 15), which keeps the sum's peak low: 5.3 dB
// over its mean, where the modem's own signal reaches 13.4 dB over its mean on rare symbols.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "modem/constants.h"

namespace tarpo::engine {

class TuneSignal {
  public:
    // The modem's mean level without ALC: the RMS of its 48 kHz output at full drive in 16-bit
    // units (-14.9 dBFS), from `tarpo-cli tx --test-frames --seconds 20 OUT.wav` after its
    // first second (peak 27625). With ALC the modem runs 2.2 dB hotter (RMS 7627).
    static constexpr double modem_rms = 5900.0;
    static constexpr double centre_hz = 1500.0;
    static constexpr double spacing_hz = 75.0;
    static constexpr double rate_hz = 48000.0;

    TuneSignal() {
        double power = 0;
        for (int k = 0; k < modem::carriers; ++k) {
            const double a = k == modem::pilot_carrier ? 21.0 : 15.0;
            amplitude_[k] = a;
            power += a * a / 2;
            step_[k] = 2 * M_PI * (centre_hz + (k - modem::pilot_carrier) * spacing_hz) / rate_hz;
            phase0_[k] = M_PI * k * k / modem::carriers;
        }
        const double gain = modem_rms / std::sqrt(power);
        for (double& a : amplitude_) a *= gain;
    }

    // Starts the signal again from its fixed phases.
    void reset() { n_ = 0; }

    // The next 40 ms (block_samples at 48 kHz).
    const std::int16_t* next_block() {
        for (std::size_t i = 0; i < block_.size(); ++i) {
            double v = 0;
            for (int k = 0; k < modem::carriers; ++k)
                v += amplitude_[k] * std::cos(phase0_[k] + step_[k] * static_cast<double>(n_));
            // 48000 samples hold whole periods of every carrier (a multiple of 75 Hz).
            n_ = (n_ + 1) % 48000;
            block_[i] = static_cast<std::int16_t>(std::lround(std::clamp(v, -32767.0, 32767.0)));
        }
        return block_.data();
    }

  private:
    std::array<double, modem::carriers> amplitude_{};  // 16-bit units
    std::array<double, modem::carriers> step_{};       // rad per 48 kHz sample
    std::array<double, modem::carriers> phase0_{};     // rad
    std::array<std::int16_t, modem::block_samples> block_{};
    long n_ = 0;  // sample index, [0, 48000)
};

// The transmit drive's scale for a setting in dB below full scale (-30..0; others are held at
// the nearest end): 10^(dB / 20).
inline double drive_gain(int db) {
    const int d = db > 0 ? 0 : db < -30 ? -30 : db;
    return std::pow(10.0, d / 20.0);
}

}  // namespace tarpo::engine
