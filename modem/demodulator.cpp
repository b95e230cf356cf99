#include "modem/demodulator.h"

#include <cmath>

#include "dsp/numeric.h"
#include "modem/constants.h"

namespace tarpo::modem {

using dsp::lowpass30;
using dsp::truncate_to_int;

FrontEnd::FrontEnd(const ModemTables& tables) : tables_(tables) {
    build_bank();
}

void FrontEnd::build_bank() {
    for (std::size_t i = 0; i < carriers; ++i) {
        double angle = 0.0;  // formed by adding the step, as the bank walks the angles
        for (std::size_t n = 0; n <= 60; ++n) {
            bank_sin_[i][n] = std::sin(angle);
            bank_cos_[i][n] = std::cos(angle);
            angle += tables_.carrier_step[i];
        }
    }
}

bool FrontEnd::demod_sample(double x, double rx_step) {
    rx_phase_ += rx_step;
    if (rx_phase_ >= pi) rx_phase_ -= two_pi;
    mix_ring_.push(ComplexSample(x * std::cos(rx_phase_), x * std::sin(rx_phase_)));
    if (mix_ring_.pos() % 5 != 0) return false;

    baseband_ring_[baseband_pos_] = mix_ring_.dot(lowpass30);
    baseband_pos_ = baseband_pos_ + 1 == baseband_ring_.size() ? 0 : baseband_pos_ + 1;
    if (baseband_pos_ % 12 != 0) return false;

    filter_bank();
    return symbol_timing_step();
}

void FrontEnd::filter_bank() {
    // Fold the last 288 baseband samples (six symbols) with the pulse, its entry 0 meeting the
    // oldest sample, into 32 bins; then one 32-point DFT bin per carrier with a time
    // reference, so that a steady tone keeps its phase from one output to the next.
    const std::size_t p = baseband_pos_;
    const auto& pulse = tables_.pulse_table;
    for (std::size_t m = 0; m < 32; ++m) {
        ComplexSample sum = baseband_ring_[(p + m) % 288] * pulse[m];
        for (std::size_t r = 1; r < 9; ++r)
            sum += baseband_ring_[(p + m + 32 * r) % 288] * pulse[m + 32 * r];
        fold_bins_[m] = sum;
    }
    const std::size_t q = p % 32;  // 2400 Hz samples produced since start, modulo 32
    history_[3] = history_[2];
    history_[2] = history_[1];
    history_[1] = history_[0];
    for (std::size_t i = 0; i < carriers; ++i) {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t k = 0; k < 32; ++k) {
            const double s = bank_sin_[i][q + k + 1];
            const double c = bank_cos_[i][q + k + 1];
            re += s * fold_bins_[k].real() + c * fold_bins_[k].imag();
            im += s * fold_bins_[k].imag() - c * fold_bins_[k].real();
        }
        history_[0][i] = ComplexSample(re, im);
    }
}

double FrontEnd::interpolate(double y0, double y1, double y2, double y3, double mu) {
    const double a = 2.0 * y2;
    const double b = 3.0 * y1 - y2 - y3 - y0;
    const double c = y3 - y2 - y1 + y0;
    return ((mu * c + b) * mu + a) / 2.0;
}

bool FrontEnd::symbol_timing_step() {
    const int s = timing_phase_;
    double power = 0.0;
    for (const ComplexSample& y : history_[0]) power += y.real() * y.real() + y.imag() * y.imag();

    // Symbol-rate Fourier component of the output energy (time constant 25 symbols).
    double& e0 = timing_acc_[0];
    double& e1 = timing_acc_[1];
    switch (s) {
        case 0:
            e0 = 0.98 * e0 + 0.02 * power;
            break;
        case 1:
            e1 = 0.98 * e1 + 0.02 * power;
            break;
        case 2:
            e0 = 0.98 * e0 - 0.02 * power;
            break;
        default:
            e1 = 0.98 * e1 - 0.02 * power;
            break;
    }
    // Timing estimate in outputs, (0, 4]; 0 while the component is too weak to trust.
    double estimate = 0.0;
    if (0.02 * power < std::sqrt(e0 * e0 + e1 * e1)) estimate = 2.0 * std::atan2(e1, e0) / pi + 2.0;

    bool symbol = false;
    if (truncate_to_int(estimate) == s) {
        const double mu = estimate - s;  // [0, 1)
        for (std::size_t i = 0; i < carriers; ++i) {
            const ComplexSample y0 = history_[0][i];
            const ComplexSample y1 = history_[1][i];
            const ComplexSample y2 = history_[2][i];
            const ComplexSample y3 = history_[3][i];
            symbol_sample_[i] =
                ComplexSample(interpolate(y0.real(), y1.real(), y2.real(), y3.real(), mu),
                              interpolate(y0.imag(), y1.imag(), y2.imag(), y3.imag(), mu));
        }
        timing_marker_ = (mu - 0.5) * 400.0;
        symbol = true;
    }
    timing_phase_ = (s + 1) % 4;
    return symbol;
}

}  // namespace tarpo::modem
