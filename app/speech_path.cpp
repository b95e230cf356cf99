#include "app/speech_path.h"

#include <memory>

#include "dsp/numeric.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "modem/acquisition.h"
#include "modem/station.h"
#include "sim/channel.h"
#include "voice/codec_adapter.h"

namespace tarpo::app {

namespace {

class Collect final : public engine::ReceiveSink {
  public:
    void voice_block(const std::int16_t* block) override {
        speech.insert(speech.end(), block, block + modem::block_samples);
    }
    void voice_withheld() override { speech.insert(speech.end(), modem::block_samples, 0.0); }
    std::vector<double> speech;
};

}  // namespace

std::vector<double> speech_through_modem(const std::vector<double>& speech_8k,
                                         std::optional<double> snr_db, std::uint64_t seed) {
    std::vector<double> scaled(speech_8k);
    for (double& v : scaled) v *= 32768.0;
    const std::vector<double> mic = sim::resample(scaled, 6.0);
    const std::size_t blocks = (mic.size() + modem::block_samples - 1) / modem::block_samples;

    auto tx = engine::make_station();
    engine::Passes& tx_passes = tx->passes;
    std::vector<double> signal;
    std::array<std::int16_t, modem::block_samples> block{};
    // Two blocks of silence after the speech let the last frames leave the filters.
    for (std::size_t n = 0; n < blocks + 2; ++n) {
        for (std::size_t i = 0; i < block.size(); ++i) {
            const std::size_t at = n * modem::block_samples + i;
            block[i] = at < mic.size() ? dsp::to_sample16(mic[at]) : 0;
        }
        const std::int16_t* out = tx_passes.transmit_block(block.data(), false);
        // Half the transmit level reaches the receiver's sound card, so the noise of the
        // whole 24 kHz band stays clear of the 16-bit limits.
        for (int i = 0; i < modem::block_samples; ++i) signal.push_back(0.5 * out[i]);
    }

    sim::ChannelSettings channel;
    channel.snr_db = snr_db;
    channel.seed = seed;
    const sim::ChannelResult heard = sim::simulate_channel(signal, channel, 48000.0);

    auto rx = engine::make_station();
    engine::Passes& rx_passes = rx->passes;
    Collect sink;
    for (std::size_t n = 0; (n + 1) * modem::block_samples <= heard.samples.size(); ++n) {
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = dsp::to_sample16(heard.samples[n * modem::block_samples + i]);
        rx_passes.receive_block(block.data(), sink);
    }
    std::vector<double> out = sim::resample(sink.speech, 1.0 / 6.0);
    for (double& v : out) v /= 32768.0;
    return out;
}

}  // namespace tarpo::app
