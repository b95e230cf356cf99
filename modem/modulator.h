// The transmitter: each symbol is one period of the sum of 15 carriers, shaped by the
// root-raised-cosine pulse and overlapped with the tails of the three symbols before it,
// built as a complex baseband at 2400 Hz, low-pass filtered, interpolated by 5 to 12000 Hz,
// moved up to the tuned centre frequency, clipped, and interpolated by 4 to 48000 Hz.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/filters.h"
#include "dsp/numeric.h"
#include "modem/constants.h"

namespace tarpo::modem {

using dsp::ComplexSample;
using dsp::DelayLine;

// Pulse shape and carrier plan, built once by the station and read by both directions.
struct ModemTables {
    // Root-raised cosine, t = (i - 95.5) / 48 symbols.
    std::array<double, pulse_taps> pulse_table{};
    std::array<double, carriers> carrier_step{};    // rad per 2400 Hz sample: (i - 7) / 32 turns
    std::array<double, carriers> carrier_offset{};  // half a turn for even carriers, see modulate
};

// Root-raised-cosine impulse response for 0 < rolloff <= 1, normalised to sum 1.
std::array<double, pulse_taps> pulse_table_build(double rolloff);
// The modem's tables: the pulse with rolloff 0.5 and the carrier plan.
ModemTables build_modem_tables();

class Modulator {
  public:
    explicit Modulator(const ModemTables& tables) : tables_(tables) {}

    // Writes the next 20 ms symbol as 960 samples at 48000 Hz. phase_steps holds the phase
    // step (rad) of each carrier for this symbol; tx_step is the transmit oscillator step
    // (rad per 12000 Hz sample); alc: the envelope limiter is on.
    void modulate_symbol(std::int16_t* out, const std::array<double, carriers>& phase_steps,
                         double tx_step, bool alc);

    const std::array<double, carriers>& carrier_phase() const { return carrier_phase_; }

    // Envelope limiter: amplifies small baseband samples by 1.3 and holds large ones at 3.5.
    static ComplexSample alc(ComplexSample s);

  private:
    ComplexSample tx_lowpass(ComplexSample s);
    void interpolate5(std::int16_t* out, ComplexSample y, double tx_step);
    void interpolate4(std::int16_t* out, double v);

    const ModemTables& tables_;
    std::array<double, carriers> carrier_phase_{};
    std::array<ComplexSample, carrier_period_samples> pattern_{};
    std::array<ComplexSample, 3 * symbol_samples_2400>
        overlap_ring_{};  // pulse tails of the last three symbols
    std::size_t overlap_pos_ = 0;
    DelayLine<ComplexSample, 35> tx_lowpass_line_;
    DelayLine<ComplexSample, 6> interpolate5_line_;
    DelayLine<double, 7> interpolate4_line_;
    double tx_phase_ = 0.0;  // rad, [-pi, pi)
};

}  // namespace tarpo::modem
