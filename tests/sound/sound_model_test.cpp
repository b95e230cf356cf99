// The rings and the SoundInterface against a slow, obvious model of the sound-card queue:
// input as a list of at most 32 filled blocks plus one being filled, sample by sample;
// output as a first-in first-out list of queued samples, primed with its cushion of
// silence, dropping a write with more than the cushion and excess_blocks queued, priming again
// when it ran dry (drift trimming off: blocks keep their length). Random interleavings of
// device time and non-blocking reads and writes (seeded), with a small block so that
// overruns, full queues and run-dry cases come often, and device callbacks of sizes that do
// not line up with blocks.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "sound/sound_interface.h"
#include "tests/support/sound_fake.h"

namespace tarpo::sound {
namespace {

// The fixed texts are checked elsewhere; here they would only clutter the output.
class Quiet : public SoundDiagnostics {
  public:
    void print(const char*) override {}
};

constexpr int n = 64;  // samples per block: 32 blocks overrun after 2048 samples
constexpr int cushion = static_cast<int>(voice_cushion * n);

struct InputModel {
    std::deque<std::vector<std::int16_t>> filled;  // oldest first, at most 32
    std::vector<std::int16_t> filling;
    std::int64_t produced = 0;
    std::int64_t lost = 0;

    void sample() {
        const std::int16_t v = FakeSoundBackend::ramp(produced++);
        // The block being filled is one of the 32 buffers: with all 32 filled there is none.
        if (filled.size() == 32) {
            ++lost;
            return;
        }
        filling.push_back(v);
        if (filling.size() == static_cast<std::size_t>(n)) {
            filled.push_back(filling);
            filling.clear();
        }
    }
};

struct OutputModel {
    std::deque<std::int16_t> queued;  // the front one plays next
    std::vector<std::int16_t> played;

    void sample() {
        if (queued.empty()) {
            played.push_back(0);
            return;
        }
        played.push_back(queued.front());
        queued.pop_front();
    }
    void prime() { queued.insert(queued.end(), cushion, 0); }
    // A non-blocking write; true when dropped or after the queue ran dry.
    bool write(const std::vector<std::int16_t>& block) {
        if (queued.size() > static_cast<std::size_t>(cushion + excess_blocks * n)) return true;
        const bool dry = queued.empty();
        if (dry) prime();
        queued.insert(queued.end(), block.begin(), block.end());
        return dry;
    }
};

TEST(SoundModel, RandomInterleavingsMatchTheQueueModel) {
    LoopLibrary loop;
    loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
    Quiet quiet;
    for (const unsigned seed : {1u, 2u, 3u, 4u}) {
        for (const int chunk : {1, 7, 50, 333}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " chunk " << chunk);
            std::mt19937 rng(seed);
            FakeSoundBackend fake;
            fake.set_chunk(chunk);
            SoundInterface sound(fake, loop, quiet);
            sound.init(48000);
            sound.set_fill_trim(false);
            sound.select_input(0, false);
            sound.select_output(0, false);
            sound.start_input(n);
            sound.start_output(n);
            InputModel in;
            OutputModel out;
            out.prime();

            std::vector<std::int16_t> got(n), last(n, 0);
            std::int16_t tag = 1;
            int dropped = 0;
            for (int step = 0; step < 1200; ++step) {
                // Alternate phases where the worker outpaces the device (full output queue)
                // and where the device outpaces the worker (overrun, run-dry).
                const bool worker_heavy = (step / 100) % 2 == 0;
                const int draw = static_cast<int>(rng() % 6);
                const int op = worker_heavy ? (draw == 0   ? 0
                                               : draw <= 2 ? 1
                                                           : 3)
                                            : (draw <= 3   ? 0
                                               : draw == 4 ? 1
                                                           : 3);
                if (op == 0) {
                    // Device time, in whole callbacks as a real device gives it.
                    const int callbacks = static_cast<int>(rng() % (4 * n / chunk + 2));
                    fake.advance(std::int64_t{callbacks} * chunk);
                    for (int s = 0; s < callbacks * chunk; ++s) {
                        in.sample();
                        out.sample();
                    }
                } else if (op == 1) {
                    const SoundInterface::Read read = sound.read_block(got.data());
                    if (in.filled.empty()) {
                        ASSERT_EQ(read, SoundInterface::Read::nothing);
                        ASSERT_EQ(got, last);  // left alone
                    } else {
                        ASSERT_EQ(read, in.filled.size() == 32 ? SoundInterface::Read::overrun
                                                               : SoundInterface::Read::delivered);
                        ASSERT_EQ(got, in.filled.front());
                        in.filled.pop_front();
                        last = got;
                    }
                } else {
                    const std::vector<std::int16_t> block(n, tag++);
                    const bool full =
                        out.queued.size() > static_cast<std::size_t>(cushion + excess_blocks * n);
                    ASSERT_EQ(sound.write_block(block.data()), out.write(block));
                    dropped += full ? 1 : 0;
                }
            }
            ASSERT_EQ(fake.lost(), in.lost);
            ASSERT_EQ(fake.played(), out.played);
            // The run reached the overrun and full-queue cases.
            EXPECT_GT(in.lost, 0);
            EXPECT_GT(dropped, 0);
        }
    }
}

}  // namespace
}  // namespace tarpo::sound
