// Two audio workers over real sound, for the test programs that run them: a station whose
// speech codec sends test frames and counts their bit errors, on any sound backend, and the
// exchange of one station transmitting into a sink and the other receiving from its monitor.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "engine/passes.h"
#include "engine/ready_station.h"
#include "engine/worker.h"
#include "ptt/ptt.h"
#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "tests/support/serial_fake.h"
#include "voice/test_frame_pattern.h"

namespace tarpo::test {

// Stands where the speech decoder sits and counts the test frames' bit errors instead.
class CheckingCodec final : public voice::SpeechCodec {
  public:
    void ana_init() override {}
    void syn_init() override {}
    void encode(const short*, unsigned char* bits) override {
        test_frame_source.encode(nullptr, bits);
    }
    void decode(const unsigned char* bits, short* speech) override {
        checker.check_frame(bits);
        for (int i = 0; i < 320; ++i) speech[i] = 0;
    }
    voice::TestFrameChecker checker;
    voice::TestFrameCodec test_frame_source;
};

struct QuietNotifier : engine::WorkerNotifier {
    void rsid_report(const char*) override {}
};

// One station: its own controls, monitor, modem, sound system and worker.
template <typename Backend>
struct CheckingStation {
    CheckingCodec codec;
    std::unique_ptr<engine::ReadyStation> ready =
        engine::make_station(codec, engine::linked_rsid());
    engine::Controls* shared = &ready->controls;
    Backend backend;
    sound::LoopLibrary loop;
    sound::SoundInterface sound{backend, loop};
    ptt::FakeSerialLines lines;
    ptt::PttPort ptt{loop, sound, lines};
    QuietNotifier quiet;
    engine::AudioWorker worker{*shared, sound, ptt, ready->passes, quiet, nullptr};

    // cards_only: the lists leave the SDR loop device out.
    explicit CheckingStation(bool cards_only = false) {
        if (cards_only) loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
        sound.init(48000);
    }
    bool stop() {
        shared->rx_active = 0;
        shared->tx_active = 0;
        shared->worker_run = 0;
        for (int i = 0; i < 30 && !worker.finished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return worker.join_if_finished();
    }
};

// tx keys at once and sends test frames into `sink`; rx receives them from `monitor`. The
// other sink and its monitor carry everything else: both microphones (silence) and speakers.
template <typename Station>
void wire_exchange(Station& tx, Station& rx, int sink, int monitor, int other_sink,
                   int other_monitor) {
    tx.shared->tx_output_device = sink;
    tx.shared->voice_input_device = other_monitor;
    tx.shared->rx_input_device = other_monitor;
    tx.shared->voice_output_device = other_sink;
    tx.shared->rx_active = 0;
    tx.shared->tx_active = 1;
    rx.shared->rx_input_device = monitor;
    rx.shared->voice_output_device = other_sink;
    rx.shared->tx_output_device = other_sink;
    rx.shared->voice_input_device = other_monitor;
}

// Runs both workers for `seconds`, stops the receiver first (the frame that the end of the
// transmission cuts short must not count) and prints what the checker saw. True when both
// workers finished, at least `min_frames` were counted, none in error and one alignment.
template <typename Station>
bool run_exchange(Station& tx, Station& rx, int seconds, unsigned long long min_frames) {
    rx.worker.start();
    tx.worker.start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const bool rx_stopped = rx.stop();
    const bool tx_stopped = tx.stop();
    const auto& c = rx.codec.checker;
    std::printf(
        "frames assembled %llu, counted %llu, bit errors %llu, frames in error %llu, "
        "alignments %llu, phase_error %.4f, frequency %.2f Hz\n",
        static_cast<unsigned long long>(c.frames_seen()),
        static_cast<unsigned long long>(c.frames_counted()),
        static_cast<unsigned long long>(c.bit_errors()),
        static_cast<unsigned long long>(c.frames_in_error()),
        static_cast<unsigned long long>(c.alignments()), rx.ready->monitor.phase_error.load(),
        rx.ready->monitor.tuned_freq.load());
    bool ok = tx_stopped && rx_stopped;
    if (!ok) std::printf("FAIL: a worker did not finish\n");
    if (c.frames_counted() < min_frames) {
        std::printf("FAIL: too few frames counted\n");
        ok = false;
    }
    if (c.bit_errors() != 0 || c.alignments() != 1) {
        std::printf("FAIL: bit errors or a lost alignment after acquisition\n");
        ok = false;
    }
    return ok;
}

}  // namespace tarpo::test
