// The factory of a ready station: controls, monitor, the modem station, the codec adapter on
// our speech codec (or on test frames, or on a codec the caller gives), the spectrum and the
// block passes, each set up and tuned. The engine, the tool, the benchmarks and the tests all
// build their stations here.
#pragma once

#include <memory>

#include "engine/controls.h"
#include "engine/monitor.h"
#include "engine/passes.h"
#include "modem/analyser.h"
#include "modem/station.h"
#include "voice/codec_adapter.h"
#include "voice/test_frame_pattern.h"

namespace tarpo::engine {

// What the codec adapter carries: speech through our codec, or test frames.
enum class Voice { speech, test_frames };

struct ReadyStation {
    // codec: the caller's codec (it must outlive the station), or null for `voice`'s own.
    ReadyStation(Voice voice, voice::SpeechCodec* codec, const RsidApi& rsid);
    ReadyStation(const ReadyStation&) = delete;
    ReadyStation& operator=(const ReadyStation&) = delete;

    // Tunes the receiver and the transmitter to f (Hz) at once, with the controls' Split.
    void tune(double f);

    Controls controls;
    Monitor monitor;
    modem::Station station;
    voice::LinkedCodec speech_codec;
    voice::TestFrameCodec test_codec;
    voice::CodecAdapter adapter;
    modem::SpectrumAnalyser spectrum;
    RsidApi rsid;
    Passes passes;
};

// A station on our codec (or test frames) and the linked RSID library, tuned to freq_hz.
std::unique_ptr<ReadyStation> make_station(Voice voice = Voice::speech, double freq_hz = 1500.0);
// The same on a codec and RSID entries of the caller's (tests).
std::unique_ptr<ReadyStation> make_station(voice::SpeechCodec& codec, const RsidApi& rsid,
                                           double freq_hz = 1500.0);

}  // namespace tarpo::engine
