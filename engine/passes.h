// One 40 ms block of the receive and of the transmit phase, apart from the sound I/O around
// it: the audio worker and the command-line tool drive the same passes. Each block takes the
// controls once (a snapshot), hands the stages plain values, applies tuning requests at its
// half-block boundaries and shows what it received in the monitor.
#pragma once

#include <array>
#include <cstdint>

#include "engine/callsign_rule.h"
#include "engine/controls.h"
#include "engine/monitor.h"
#include "modem/analyser.h"
#include "modem/constants.h"
#include "modem/station.h"
#include "voice/codec_adapter.h"

namespace tarpo::engine {

// The identification-burst library's entries, as function pointers so that tests can stand
// in for it.
struct RsidApi {
    void (*init_rsid)();
    int (*rsid_check)(const double* samples);  // 960 samples at 6000 Hz
    double (*getrsfreq)();
    void (*rsid_encode)(double freq_hz);
    int (*rsid_get)(short* block);  // 1920 samples at 48000 Hz; 0 once the burst is over
};

// The entries of the RSID library linked into the program.
RsidApi linked_rsid();

// What a receive pass hands outward.
class ReceiveSink {
  public:
    virtual ~ReceiveSink() = default;
    // A block for the voice output: decoded speech, or the receiver audio in Analog mode.
    virtual void voice_block(const std::int16_t* block) = 0;
    // A frame that arrived while the squelch was closed.
    virtual void voice_withheld() {}
    // Every frame as the demodulator put it together, whatever the squelch (for counting).
    virtual void frame_assembled(const modem::Station& /*station*/) {}
    // A burst was recognised; the receiver is already retuned to freq_hz. text is
    // "RSID <freq with one decimal>  TARPO".
    virtual void rsid_detected(double /*freq_hz*/, const char* /*text*/) {}
};

class Passes {
  public:
    // A received block after the station's decimation by 4: 40 ms at 12000 Hz.
    static constexpr int decimated_samples = modem::block_samples / 4;

    Passes(modem::Station& station, voice::CodecAdapter& codec,
           const modem::SpectrumAnalyser& spectrum, const RsidApi& rsid, Controls& controls,
           Monitor& monitor)
        : station_(station),
          codec_(codec),
          spectrum_(spectrum),
          rsid_(rsid),
          controls_(controls),
          monitor_(monitor) {}

    // The receive phase's work on one block from the rx input: decimation, spectrum gathering
    // (a spectrum and, with RXID on, an RSID check every fourth block), then in Analog mode the
    // block itself to the voice output, otherwise the demodulator in two halves, each
    // followed by the squelch, a pending retune and a ready frame.
    void receive_block(const std::int16_t* input, ReceiveSink& sink);

    // The transmit phase's work on one microphone block: a true read result (overrun, or the
    // loop device delivered nothing) silences it first; the scope trace and the peak; then
    // the block to send: the microphone itself in Analog mode, otherwise the modem signal of
    // its encoded frame. Returns the block to write.
    const std::int16_t* transmit_block(std::int16_t* input, bool read_result);
    // The scope trace and the peak of a microphone block that goes out as it is (Analog
    // mode's pieces, sent before their block is complete).
    void show_microphone(const std::int16_t* block);

    // The transmit identification burst: prepares it at the TXID frequency, then yields it
    // block by block until next_txid_block returns false.
    void start_txid();
    bool next_txid_block(std::int16_t* block);

    // With the enhanced receiver and a codec that conceals noise, frames that come while the
    // squelch is shut still go to the decoder, for at most this many frames (480 ms) after it
    // was last open: a fade that shuts it briefly costs the frames that were still readable,
    // and those that are noise the decoder conceals (the last speech fading out). Their ratios
    // count for bridge_trust of what the receiver claims, as the shut squelch says the
    // receiver is having a bad time.
    static constexpr int bridge_frames = 12;
    static constexpr double bridge_trust = 0.7;
    // What the passes show the user interface (the worker holds the squelch of a quiet
    // receiver shut through it).
    Monitor& monitor() { return monitor_; }
    // The received callsigns that may be shown.
    CallsignRule& callsign_rule() { return callsign_rule_; }

  private:
    void take_request();
    bool demodulate_half(int half, ReceiveSink& sink);
    void finish_half(bool frame, int squelch_level, ReceiveSink& sink);
    void decode_frame(double trust);
    void gather_spectrum(const std::array<double, decimated_samples>& decimated, bool rxid,
                         ReceiveSink& sink);
    void show_symbol(int constellation_carrier);
    // Hands the picture as it now stands to the display.
    void publish_frame();

    modem::Station& station_;
    voice::CodecAdapter& codec_;
    const modem::SpectrumAnalyser& spectrum_;
    RsidApi rsid_;
    Controls& controls_;
    Monitor& monitor_;

    std::array<double, decimated_samples> decimated_{};
    std::array<std::int16_t, modem::block_samples> output_{};
    std::array<std::uint8_t, 64> tx_voice_bits_{};
    // The picture being drawn: its spectrum input gathers the 6000 Hz samples for the
    // spectrum while receiving and holds the scope trace (0..479) while sending.
    DisplayFrame frame_;
    std::size_t constellation_at_ = 0;  // the next point's entry in the ring
    int fill_count_ = 0;                // 0..960; survives phase changes, reset only by a spectrum
    int bridged_ = bridge_frames;       // frames given to the decoder since the squelch was open
    bool squelch_open_ = false;         // as the last half-block decided
    CallsignRule callsign_rule_;
};

}  // namespace tarpo::engine
