#include "modem_hook.h"

namespace tarpo::bench {

// TODO(modem): speech -> codec_encode_block -> tx at 48 kHz -> AWGN at 6 dB SNR -> rx ->
// codec_decode_block -> 8 kHz speech.
SpeechChannel modem_channel_6db() {
    return {};
}

}  // namespace tarpo::bench
