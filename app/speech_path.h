// Speech through the whole voice path in memory, as the transmitting and the receiving
// program would carry it: the transmit pass (codec, modulator), an HF channel, the receive
// pass (demodulator, squelch at its default level, decoder). For the benchmarks and tests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "voice/codec_adapter.h"

namespace tarpo::app {

// speech_8k: 8000 Hz samples with full scale 1; the result is on the same scale and rate.
// snr_db: white noise in 3 kHz (none when empty). Half the transmit level reaches the receiver,
// so the noise of the whole band stays clear of the 16-bit limits at low SNR.
std::vector<double> speech_through_modem(const std::vector<double>& speech_8k,
                                         std::optional<double> snr_db, std::uint64_t seed);

// The two ends of it. codec: the caller's (it must outlive the call), or null for the linked
// library. transmit_speech gives the modem signal at 48000 Hz in 16-bit units at half the
// transmit level, with two blocks of silence after the speech.
std::vector<double> transmit_speech(const std::vector<double>& speech_8k,
                                    voice::SpeechCodec* codec = nullptr);

// What the receive pass did with the frames.
struct ReceiveCounts {
    std::uint64_t played = 0;    // frames decoded
    std::uint64_t withheld = 0;  // frames the squelch kept back
};

// signal: 48000 Hz, 16-bit units (a trailing part shorter than a block is left out); enhanced:
// the enhanced receiver (and with it soft bits to the codec) instead of the differential one.
// Returns 8000 Hz speech, full scale 1, one 40 ms block per input block as the program's voice
// output plays them: decoded frames through a queue of four blocks, silence where it runs empty.
std::vector<double> receive_speech(std::span<const double> signal, bool enhanced,
                                   voice::SpeechCodec* codec = nullptr,
                                   ReceiveCounts* counts = nullptr);

}  // namespace tarpo::app
