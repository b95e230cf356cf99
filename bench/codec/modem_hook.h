// The benchmark's hook for the speech path through the modem: 8 kHz speech in, 8 kHz decoded
// speech out, through codec, transmitter, an AWGN channel at 6 dB SNR and receiver.
#ifndef TARPO_BENCH_CODEC_MODEM_HOOK_H
#define TARPO_BENCH_CODEC_MODEM_HOOK_H

#include <functional>
#include <vector>

namespace tarpo::bench {

using SpeechChannel = std::function<std::vector<double>(const std::vector<double>& speech_8k)>;

// Speech through transmit pass -> white noise at 6 dB SNR (3 kHz) -> receive pass.
SpeechChannel modem_channel_6db();

}  // namespace tarpo::bench

#endif
