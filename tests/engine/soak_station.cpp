// One station of the soak run (scripts/soak): the program's worker with the SDR loop device as
// rx input and tx output and test frames where the codec sits, in the current directory (its
// loop.txt sets the ports). Unlike loop_station it keeps no per-frame record, so it can run
// for hours.
//
//   soak_station LIBRARY tx SECONDS
//       transmits test frames for SECONDS, keyed through the loop device.
//   soak_station LIBRARY rx SECONDS
//       receives for SECONDS and prints, once a minute and at the end, the frames assembled,
//       the frames and bits counted after alignment, the bit errors and the realignments.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "engine/passes.h"
#include "engine/ready_station.h"
#include "engine/worker.h"
#include "modem/station.h"
#include "ptt/ptt.h"
#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "tests/support/serial_fake.h"
#include "tests/support/sound_fake.h"
#include "voice/test_frames.h"

namespace {

using namespace tarpo;

// Test frames out; received frames are checked on the worker and the counts published.
class TestFrames final : public voice::SpeechCodec {
  public:
    void ana_init() override {}
    void syn_init() override {}
    void encode(const short*, unsigned char* bits) override { source.encode(nullptr, bits); }
    void decode(const unsigned char* bits, short* speech) override {
        checker.check_frame(bits);
        decoded.store(decoded.load() + 1);
        counted.store(checker.frames_counted());
        errors.store(checker.bit_errors());
        in_error.store(checker.frames_in_error());
        alignments.store(checker.alignments());
        for (int i = 0; i < 320; ++i) speech[i] = 0;
    }
    voice::TestFrameCodec source;
    voice::TestFrameChecker checker;
    std::atomic<std::uint64_t> decoded{0}, counted{0}, errors{0}, in_error{0}, alignments{0};
};

struct Quiet : engine::WorkerNotifier {
    void rsid_report(const char*) override {}
};

void print_counts(int second, const TestFrames& c) {
    std::printf(
        "t %5d s: frames decoded %llu, counted %llu, bit errors %llu, frames in error %llu, "
        "alignments %llu\n",
        second, static_cast<unsigned long long>(c.decoded.load()),
        static_cast<unsigned long long>(c.counted.load()),
        static_cast<unsigned long long>(c.errors.load()),
        static_cast<unsigned long long>(c.in_error.load()),
        static_cast<unsigned long long>(c.alignments.load()));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: soak_station LIBRARY tx|rx SECONDS\n");
        return 2;
    }
    const bool transmit = std::strcmp(argv[2], "tx") == 0;
    const int seconds = std::atoi(argv[3]);

    TestFrames codec;
    auto ready = engine::make_station(codec, engine::linked_rsid());
    engine::Controls& controls = ready->controls;
    sound::FakeSoundBackend cards(48000, sound::FakeSoundBackend::Clock::external);
    sound::LoopLibrary loop;
    if (!loop.load(argv[1])) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 2;
    }
    sound::SoundInterface sound(cards, loop);
    ptt::FakeSerialLines lines;
    ptt::PttPort ptt(loop, sound, lines);
    Quiet quiet;
    sound.init(48000);
    controls.rx_input_device = sound.input_count() - 1;
    controls.tx_output_device = sound.output_count() - 1;
    controls.sq_level = 15;  // every frame reaches the checker
    if (transmit) {
        char text[81] = "DL1ABC";
        ready->station.callsign().set_text(text);
        controls.rx_active = 0;
        controls.tx_active = 1;
    }

    engine::AudioWorker worker(controls, sound, ptt, ready->passes, quiet, nullptr);
    worker.start();
    for (int s = 1; s <= seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (!transmit && (s % 60 == 0 || s == seconds)) print_counts(s, codec);
    }
    controls.rx_active = 0;
    controls.tx_active = 0;
    controls.worker_run = 0;
    for (int i = 0; i < 30 && !worker.finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!worker.join_if_finished()) {
        std::fprintf(stderr, "worker did not finish\n");
        return 1;
    }
    return 0;
}
