// modem/: the 15-carrier DQPSK modem, from the frame and the callsign channel to the station.
// One modem station: the transmit chain (frame_load -> carrier_phase_step -> modulate_symbol)
// and the receive chain (decimate4 -> demod_sample -> symbol timing -> decide_symbol ->
// assemble -> callsign decoder) around one bit buffer shared by both directions, as the
// worker runs only one of them at a time. Several stations can live in one process. The
// station holds no reference to anything outside it: settings come in as plain values.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/rate_convert.h"
#include "modem/callsign.h"
#include "modem/constants.h"
#include "modem/decisions.h"
#include "modem/demodulator.h"
#include "modem/frame.h"
#include "modem/modulator.h"
#include "modem/tuning.h"

namespace tarpo::modem {

// What demod_sample reached with the sample it was given.
enum class RxEvent { none, symbol, frame };

class Station {
  public:
    // Ready at once: tuned to 1500 Hz, pulse table and carrier plan built.
    Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Transmit: load one frame (54 voice bits, bit 0 of bytes 0..53, plus the next callsign
    // dibit), then two modulate_symbol calls write its two symbols.
    void frame_load(const std::uint8_t* voice_bits);
    void modulate_symbol(std::int16_t* out);
    // frame_load and both symbols into one 1920-sample block.
    void transmit_block(const std::uint8_t* voice_bits, std::int16_t* block);

    // Receive: four 48 kHz samples to one 12 kHz sample, and one 12 kHz sample through the
    // whole chain.
    double decimate4(const std::int16_t* four) { return decimator_.decimate4(four); }
    RxEvent demod_sample(double x);
    // A whole 1920-sample block to 480 samples at 12 kHz.
    void decimate_block(const std::int16_t* block, double* decimated);

    // The envelope limiter of the transmitter, from the next symbol on.
    void set_alc(bool on) { alc_ = on; }

    Tuning& tuning() { return tuning_; }
    voice::CallsignChannel& callsign() { return callsign_; }
    const ModemTables& tables() const { return tables_; }
    const Tuning& tuning() const { return tuning_; }
    const FrameBits& frame_bits() const { return frame_; }
    const FrontEnd& front_end() const { return front_end_; }
    const Decisions& decisions() const { return decisions_; }
    const Modulator& modulator() const { return modulator_; }
    // The voice bits of the last frame put together (bytes 54 and 55 stay 0).
    const std::array<std::uint8_t, 56>& rx_voice_bits() const { return rx_voice_bits_; }
    int last_callsign_dibit() const { return last_callsign_dibit_; }
    double phase_error() const { return decisions_.phase_error(); }

  private:
    void build_tables();

    ModemTables tables_;
    Tuning tuning_;
    FrameBits frame_;
    Modulator modulator_;
    FrontEnd front_end_;
    Decisions decisions_;
    voice::CallsignChannel callsign_;
    voice::Decimator4 decimator_;
    std::array<std::uint8_t, 56> rx_voice_bits_{};
    int last_callsign_dibit_ = 0;
    bool alc_ = false;
};

}  // namespace tarpo::modem
