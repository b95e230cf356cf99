// modem/: the 15-carrier DQPSK modem, from the frame and the callsign channel to the station.
// It stands on the first floor and includes only modem/, external/ and dsp/.
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
#include "modem/enhanced_receiver.h"
#include "modem/frame.h"
#include "modem/modulator.h"
#include "modem/tuning.h"

namespace tarpo::modem {

// What demod_sample reached with the sample it was given.
enum class RxEvent { none, symbol, frame };

// Which back end puts the frames together: the differential one (differential decisions, a frame at
// every pilot reversal) or the enhanced one (decision feedback, pilot flywheel, wrong-carrier
// check, soft bits). Both share the front end, the frequency tracking and phase_error.
enum class Receiver { differential, enhanced };

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

    // Receive: one 12 kHz sample through the whole chain.
    RxEvent demod_sample(double x);
    // A whole 1920-sample block to 480 samples at 12 kHz.
    void decimate_block(const std::int16_t* block, double* decimated);

    // The envelope limiter of the transmitter, from the next symbol on.
    void set_alc(bool on) { alc_ = on; }

    // Takes effect at the next symbol; the enhanced back end starts afresh. Design by default.
    void set_receiver(Receiver receiver);
    Receiver receiver() const { return receiver_; }

    Tuning& tuning() { return tuning_; }
    CallsignChannel& callsign() { return callsign_; }
    const ModemTables& tables() const { return tables_; }
    const Tuning& tuning() const { return tuning_; }
    const FrameBits& frame_bits() const { return frame_; }
    const FrontEnd& front_end() const { return front_end_; }
    const Decisions& decisions() const { return decisions_; }
    const Modulator& modulator() const { return modulator_; }
    // The voice bits of the last frame put together (bytes 54 and 55 stay 0).
    const std::array<std::uint8_t, rx_frame_bits>& rx_voice_bits() const { return rx_voice_bits_; }
    int last_callsign_dibit() const { return last_callsign_dibit_; }
    // The enhanced receiver's log-likelihood ratios of the last frame's 56 bits (positive
    // suggests a 1; the hard bits are their signs). All 0 with the differential receiver.
    const std::array<double, soft_frame_bits>& rx_llr() const { return rx_llr_; }
    const EnhancedReceiver& enhanced() const { return enhanced_; }
    double phase_error() const { return decisions_.phase_error(); }

  private:
    int enhanced_symbol(int gap);

    ModemTables tables_;
    Tuning tuning_;
    FrameBits frame_;
    Modulator modulator_;
    FrontEnd front_end_;
    Decisions decisions_;
    CallsignChannel callsign_;
    dsp::Decimator4 decimator_;
    std::array<std::uint8_t, rx_frame_bits> rx_voice_bits_{};
    int last_callsign_dibit_ = 0;
    bool alc_ = false;
    Receiver receiver_ = Receiver::differential;
    EnhancedReceiver enhanced_;
    std::array<double, soft_frame_bits> rx_llr_{};
    int samples_since_symbol_ = 0;  // 12 kHz samples, for the enhanced back end
    double last_rx_step_ = 0.0;     // rad per 12 kHz sample, at the previous symbol
};

}  // namespace tarpo::modem
