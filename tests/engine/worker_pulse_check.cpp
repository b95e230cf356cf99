// Two audio workers over real sound: one transmits test frames into the null sink "tarpo_a"
// of the private sound server that with_pulseaudio.sh starts, the other receives from that
// sink's monitor. Every frame after the receiver has aligned itself must arrive without a
// bit error, and none may be lost. Prints what it measured; exit 0 pass, 1 fail.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "engine/passes.h"
#include "engine/ready_station.h"
#include "engine/worker.h"
#include "modem/acquisition.h"
#include "modem/station.h"
#include "ptt/ptt.h"
#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "sound/sound_portaudio.h"
#include "tests/support/serial_fake.h"
#include "voice/test_frames.h"

namespace {

using namespace tarpo;

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

struct Quiet : engine::WorkerNotifier {
    void rsid_report(const char*) override {}
};

// One station: its own controls, monitor, modem, sound system and worker.
struct Station {
    CheckingCodec codec;
    std::unique_ptr<engine::ReadyStation> ready =
        engine::make_station(codec, engine::linked_rsid());
    engine::Controls* shared = &ready->controls;
    sound::PortAudioBackend backend;
    sound::LoopLibrary loop;
    sound::SoundInterface sound{backend, loop};
    ptt::FakeSerialLines lines;
    ptt::PttPort ptt{loop, sound, lines};
    Quiet quiet;
    engine::AudioWorker worker{*shared, sound, ptt, ready->passes, quiet, nullptr};

    Station() { sound.init(48000); }
    bool stop() {
        shared->rx_active = 0;
        shared->tx_active = 0;
        shared->worker_run = 0;
        for (int i = 0; i < 30 && !worker.finished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return worker.join_if_finished();
    }
};

}  // namespace

int main() {
    Station tx;
    Station rx;
    const std::optional<int> sink = tx.sound.find_output("tarpo_a");
    const std::optional<int> monitor = rx.sound.find_input("tarpo_a_monitor");
    const std::optional<int> other_sink = rx.sound.find_output("tarpo_b");
    const std::optional<int> other_monitor = tx.sound.find_input("tarpo_b_monitor");
    if (!sink || !monitor || !other_sink || !other_monitor) {
        std::printf(
            "FAIL: the test devices tarpo_a, tarpo_a_monitor, tarpo_b, "
            "tarpo_b_monitor are not all listed\n");
        return 1;
    }
    // The transmitter keys at once and sends test frames; its microphone is the other sink's
    // monitor (silence). The receiver plays its decoded speech into the other sink.
    tx.shared->tx_output_device = *sink;
    tx.shared->voice_input_device = *other_monitor;
    tx.shared->rx_input_device = *other_monitor;
    tx.shared->voice_output_device = *other_sink;
    tx.shared->rx_active = 0;
    tx.shared->tx_active = 1;
    rx.shared->rx_input_device = *monitor;
    rx.shared->voice_output_device = *other_sink;
    rx.shared->tx_output_device = *other_sink;
    rx.shared->voice_input_device = *other_monitor;

    rx.worker.start();
    tx.worker.start();
    const auto seconds = 10;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    // The receiver stops first: the frame that the end of the transmission cuts short must
    // not count.
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
    // The transmitter sends for about 10 s less its 200 ms set-up, the silent block queued at
    // the output's open and the receiver's start: at least 200 frames of 40 ms must be counted.
    if (c.frames_counted() < 200) {
        std::printf("FAIL: too few frames counted\n");
        ok = false;
    }
    if (c.bit_errors() != 0 || c.alignments() != 1) {
        std::printf("FAIL: bit errors or a lost alignment after acquisition\n");
        ok = false;
    }
    std::printf(ok ? "PASS\n" : "FAIL\n");
    return ok ? 0 : 1;
}
