// Speech through the whole voice path in memory, as the transmitting and the receiving
// program would carry it: the transmit pass (codec, modulator), an HF channel, the receive
// pass (demodulator, squelch at its default level, decoder). For the codec benchmark and tests.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tarpo::app {

// speech_8k: 8000 Hz samples with full scale 1; the result is on the same scale and rate.
// snr_db: white noise in 3 kHz (none when empty). Half the transmit level reaches the receiver,
// so the noise of the whole band stays clear of the 16-bit limits at low SNR.
std::vector<double> speech_through_modem(const std::vector<double>& speech_8k,
                                         std::optional<double> snr_db, std::uint64_t seed);

}  // namespace tarpo::app
