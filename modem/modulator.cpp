#include "modem/modulator.h"

#include <cmath>

#include "dsp/numeric.h"
#include "modem/constants.h"

namespace tarpo::modem {

using dsp::lowpass30;
using dsp::to_sample16;
using dsp::tx_lowpass_taps;

ModemTables build_modem_tables() {
    ModemTables tables;
    tables.pulse_table = pulse_table_build(0.5);
    for (int i = 0; i < carriers; ++i) {
        // Carrier i completes exactly i - 7 cycles in 32 samples of 2400 Hz.
        tables.carrier_step[static_cast<std::size_t>(i)] = (i - 7) / 32.0 * carrier_two_pi;
        // A symbol lasts 1.5 periods of the pattern: carriers with an odd cycle count per
        // period (even i) would come out half a turn off a steady oscillator without this.
        tables.carrier_offset[static_cast<std::size_t>(i)] = i % 2 == 0 ? pi : 0.0;
    }
    return tables;
}

std::array<double, pulse_taps> pulse_table_build(double rolloff) {
    std::array<double, pulse_taps> h{};
    double sum = 0.0;
    for (int i = 0; i < 288; ++i) {
        // The centre lies between entries 95 and 96, so t is never 0 and 4 r t never +-1.
        const double t = (i - 95.5) / 48.0;
        const double x = 4.0 * rolloff * t;
        h[static_cast<std::size_t>(i)] =
            (std::cos((1.0 + rolloff) * pi * t) * x + std::sin((1.0 - rolloff) * pi * t)) /
            ((1.0 - x * x) * pi * t);
        sum += h[static_cast<std::size_t>(i)];
    }
    for (double& v : h) v /= sum;
    return h;
}

ComplexSample Modulator::alc(ComplexSample s) {
    const double magnitude = std::sqrt(s.real() * s.real() + s.imag() * s.imag());
    double g = 3.5 / magnitude;  // +inf for a zero sample, capped below
    if (g > 1.3) g = 1.3;
    return g * s;
}

void Modulator::modulate_symbol(std::int16_t* out, const std::array<double, carriers>& phase_steps,
                                double tx_step, bool alc_on) {
    pattern_.fill({});
    for (std::size_t i = 0; i < carriers; ++i) {
        const double a = i == pilot_carrier ? 21.0 : 15.0;
        double phi = phase_steps[i] + carrier_phase_[i] + tables_.carrier_offset[i];
        // Into (-pi, pi] by whole turns; phi is at most a few turns from the range.
        while (phi > pi) phi -= two_pi;
        while (phi <= -pi) phi += two_pi;
        carrier_phase_[i] = phi;
        for (int k = 0; k < 32; ++k) {
            const double angle = phi + k * tables_.carrier_step[i];
            pattern_[static_cast<std::size_t>(k)] +=
                ComplexSample(a * std::cos(angle), a * std::sin(angle));
        }
    }
    // Shape and overlap: output sample n adds pulse entry n of this symbol to entries n + 48,
    // n + 96 and n + 144 of the three symbols before it, held in the overlap ring.
    const auto& pulse = tables_.pulse_table;
    for (std::size_t n = 0; n < 192; ++n) {
        const ComplexSample shaped = pulse[n] * pattern_[n % 32];
        ComplexSample& r = overlap_ring_[overlap_pos_];
        if (n < 48) {
            ComplexSample s = shaped + r;
            if (alc_on) s = alc(s);
            s = tx_lowpass(s);
            interpolate5(out + 20 * n, s, tx_step);
        } else if (n < 144) {
            r += shaped;
        } else {
            r = shaped;
        }
        overlap_pos_ = overlap_pos_ + 1 == overlap_ring_.size() ? 0 : overlap_pos_ + 1;
    }
}

ComplexSample Modulator::tx_lowpass(ComplexSample s) {
    tx_lowpass_line_.push(s);
    return tx_lowpass_line_.dot(tx_lowpass_taps);
}

void Modulator::interpolate5(std::int16_t* out, ComplexSample y, double tx_step) {
    interpolate5_line_.push(y);
    for (int r = 0; r < 5; ++r) {
        const ComplexSample z =
            interpolate5_line_.dot(lowpass30, static_cast<std::size_t>(4 - r), 5);
        double v = z.real() * std::cos(tx_phase_) - z.imag() * std::sin(tx_phase_);
        if (v > 1.0) v = 1.0;
        if (v < -1.0) v = -1.0;
        interpolate4(out + 4 * r, v);
        tx_phase_ += tx_step;
        if (tx_phase_ >= pi) tx_phase_ -= two_pi;
    }
}

void Modulator::interpolate4(std::int16_t* out, double v) {
    // 1 / (sum of taps 4, 8, ..., 28) to seven digits: unit gain at zero frequency.
    constexpr double gain = 4.040142;
    interpolate4_line_.push(v);
    for (int q = 0; q < 4; ++q)
        out[q] = to_sample16(interpolate4_line_.dot(lowpass30, static_cast<std::size_t>(4 - q), 4) *
                             gain * 32767.0);
}

}  // namespace tarpo::modem
