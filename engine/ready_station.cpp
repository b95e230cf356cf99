#include "engine/ready_station.h"

namespace tarpo::engine {

namespace {
voice::SpeechCodec& chosen(Voice voice, voice::SpeechCodec* codec, voice::LinkedCodec& speech,
                           voice::TestFrameCodec& frames) {
    if (codec) return *codec;
    if (voice == Voice::test_frames) return frames;
    return speech;
}
}  // namespace

ReadyStation::ReadyStation(Voice voice, voice::SpeechCodec* codec, const RsidApi& rsid)
    : adapter(chosen(voice, codec, speech_codec, test_codec)),
      rsid(rsid),
      passes(station, adapter, spectrum, this->rsid, controls, monitor) {
    adapter.init();
    this->rsid.init_rsid();
}

void ReadyStation::tune(double f) {
    station.tuning().set_split(controls.split_on.load() != 0);
    station.tuning().tune(f);
    monitor.tuned_freq.store(f);
}

std::unique_ptr<ReadyStation> make_station(Voice voice, double freq_hz) {
    auto ready = std::make_unique<ReadyStation>(voice, nullptr, linked_rsid());
    ready->tune(freq_hz);
    return ready;
}

std::unique_ptr<ReadyStation> make_station(voice::SpeechCodec& codec, const RsidApi& rsid,
                                           double freq_hz) {
    auto ready = std::make_unique<ReadyStation>(Voice::speech, &codec, rsid);
    ready->tune(freq_hz);
    return ready;
}

}  // namespace tarpo::engine
