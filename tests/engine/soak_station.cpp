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
#include <thread>

#include "tests/engine/loop_rig.h"
#include "voice/test_frame_pattern.h"

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
    loop_rig::LoopRig rig(codec);
    if (!rig.open(argv[1])) return 2;
    rig.controls().sq_level = 15;  // every frame reaches the checker
    if (transmit) rig.transmit("DL1ABC");
    rig.start();
    for (int s = 1; s <= seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (!transmit && (s % 60 == 0 || s == seconds)) print_counts(s, codec);
    }
    return rig.stop() ? 0 : 1;
}
