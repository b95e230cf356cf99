#include "app/speech_path.h"

#include <algorithm>
#include <memory>

#include "dsp/numeric.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "modem/constants.h"
#include "modem/station.h"
#include "sim/channel.h"

namespace tarpo::app {

namespace {

// The voice output as the program has it: decoded frames queue for a sound card that plays one
// block per 40 ms of signal, silence when the queue is empty (no frame came, or the squelch
// withheld it); a full queue drops the block.
class Collect final : public engine::ReceiveSink {
  public:
    static constexpr std::size_t queue_blocks = 4;

    void voice_block(const std::int16_t* block) override {
        ++counts.played;
        if (queued_ == queue_blocks) return;
        std::copy_n(block, modem::block_samples,
                    queue_[(head_ + queued_++) % queue_blocks].begin());
    }
    void voice_withheld() override { ++counts.withheld; }
    // One block of the sound card's time.
    void play() {
        if (queued_ == 0) {
            speech.insert(speech.end(), modem::block_samples, 0.0);
            return;
        }
        speech.insert(speech.end(), queue_[head_].begin(), queue_[head_].end());
        head_ = (head_ + 1) % queue_blocks;
        --queued_;
    }
    std::vector<double> speech;
    ReceiveCounts counts;

  private:
    std::array<std::array<std::int16_t, modem::block_samples>, queue_blocks> queue_{};
    std::size_t head_ = 0, queued_ = 0;
};

// Identification bursts play no part here; the stations need none of the linked library's
// (one for the whole process) state.
engine::RsidApi no_rsid() {
    return {[] {}, [](const double*) { return 0; }, [] { return 0.0; }, [](double) {},
            [](short*) { return 0; }};
}

std::unique_ptr<engine::ReadyStation> station_on(voice::SpeechCodec* codec) {
    return codec ? engine::make_station(*codec, no_rsid()) : engine::make_station();
}

}  // namespace

std::vector<double> transmit_speech(const std::vector<double>& speech_8k,
                                    voice::SpeechCodec* codec) {
    std::vector<double> scaled(speech_8k);
    for (double& v : scaled) v *= 32768.0;
    const std::vector<double> mic = sim::resample(scaled, 6.0);
    const std::size_t blocks = (mic.size() + modem::block_samples - 1) / modem::block_samples;

    auto tx = station_on(codec);
    std::vector<double> signal;
    std::array<std::int16_t, modem::block_samples> block{};
    // Two blocks of silence after the speech let the last frames leave the filters.
    for (std::size_t n = 0; n < blocks + 2; ++n) {
        for (std::size_t i = 0; i < block.size(); ++i) {
            const std::size_t at = n * modem::block_samples + i;
            block[i] = at < mic.size() ? dsp::to_sample16(mic[at]) : 0;
        }
        const std::int16_t* out = tx->passes.transmit_block(block.data(), false);
        // Half the transmit level reaches the receiver's sound card, so the noise of the
        // whole 24 kHz band stays clear of the 16-bit limits.
        for (int i = 0; i < modem::block_samples; ++i) signal.push_back(0.5 * out[i]);
    }
    return signal;
}

std::vector<double> receive_speech(std::span<const double> signal, bool enhanced,
                                   voice::SpeechCodec* codec, ReceiveCounts* counts) {
    auto rx = station_on(codec);
    rx->controls.enhanced_receiver = enhanced ? 1 : 0;
    Collect sink;
    std::array<std::int16_t, modem::block_samples> block{};
    for (std::size_t n = 0; (n + 1) * modem::block_samples <= signal.size(); ++n) {
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = dsp::to_sample16(signal[n * modem::block_samples + i]);
        rx->passes.receive_block(block.data(), sink);
        sink.play();
    }
    std::vector<double> out = sim::resample(sink.speech, 1.0 / 6.0);
    for (double& v : out) v /= 32768.0;
    if (counts) *counts = sink.counts;
    return out;
}

std::vector<double> speech_through_modem(const std::vector<double>& speech_8k,
                                         std::optional<double> snr_db, std::uint64_t seed) {
    sim::ChannelSettings channel;
    channel.snr_db = snr_db;
    channel.seed = seed;
    const sim::ChannelResult heard =
        sim::simulate_channel(transmit_speech(speech_8k), channel, 48000.0);
    return receive_speech(heard.samples, false);
}

}  // namespace tarpo::app
