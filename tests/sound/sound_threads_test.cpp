// The SoundInterface with real threads: a device thread driving the fake sound system as a
// callback thread would, the worker reading and writing with real waits, and a user-interface
// thread changing the selections meanwhile. Run under ThreadSanitizer in CI (label
// "threads"), so every hand-over between the threads must be a proper synchronisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
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

constexpr int n = 1920;
using Clock = FakeSoundBackend::Clock;

// The fake's devices about ten times faster than real time.
struct DeviceThread : FakeDeviceThread {
    explicit DeviceThread(FakeSoundBackend& fake)
        : FakeDeviceThread(fake, std::chrono::milliseconds(1)) {}
};

bool is_ramp_run(const std::vector<std::int16_t>& b) {
    for (std::size_t i = 1; i < b.size(); ++i) {
        if (b[i] != FakeSoundBackend::ramp(b[i - 1] + 1)) return false;
    }
    return true;
}

// Hang guard: a wedged worker ends the test program at once with a message, instead of
// leaving the suite to its time-out. The limit is many times what the bounded waits allow (a
// few hundred ms in all), so a slow sanitizer build never trips it.
template <typename F>
bool finishes(F work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        std::fprintf(stderr, "the worker hung in a sound call\n");
        std::abort();
    }
    return true;
}

class SoundThreads : public ::testing::Test {
  protected:
    void SetUp() override { loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr); }
    LoopLibrary loop;
    Quiet quiet;
};

TEST_F(SoundThreads, BlocksCrossBetweenTheDeviceThreadAndTheWorkerWhole) {
    FakeSoundBackend fake(48000, Clock::external);
    auto sound = std::make_unique<SoundInterface>(fake, loop, quiet);
    sound->init(48000);
    sound->select_output(0, true);
    std::vector<std::vector<std::int16_t>> got;
    std::vector<std::int16_t> sent;
    {
        DeviceThread device(fake);
        std::vector<std::int16_t> block(n);
        std::int16_t next = 1;
        for (int k = 0; k < 120; ++k) {
            sound->read_block(block.data());
            got.push_back(block);
            for (auto& v : block) {
                v = next;
                next = static_cast<std::int16_t>(next == 32767 ? 1 : next + 1);  // never 0
            }
            sound->write_block(block.data());
            sent.insert(sent.end(), block.begin(), block.end());
        }
        sound->shutdown();
    }
    // A torn slot (the device writing while the worker copies) breaks a block's ramp.
    for (std::size_t k = 0; k < got.size(); ++k) ASSERT_TRUE(is_ramp_run(got[k])) << k;
    if (fake.lost() == 0) {
        for (std::size_t k = 1; k < got.size(); ++k) {
            ASSERT_EQ(got[k][0], FakeSoundBackend::ramp(got[k - 1].back() + 1)) << k;
        }
    }
    // Blocking writes drop nothing; a run-dry refill only adds silence.
    auto played = fake.played();
    played.erase(std::remove(played.begin(), played.end(), std::int16_t{0}), played.end());
    played.resize(std::min(played.size(), sent.size()));
    sent.resize(played.size());
    EXPECT_EQ(played, sent);
    EXPECT_GT(played.size(), 100u * n);  // nearly all of it was played before the shutdown
}

// The loop library's entry points for the selection test, called from the worker only.
std::atomic<int> loop_writes{0};
void no_ptt(int) {}
void no_init(int, int) {}
int nothing_read(double*) {
    return 0;
}
int accept_write(double*) {
    loop_writes.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    return 1;
}

TEST_F(SoundThreads, SelectionsFromTheInterfaceThreadArriveWholeAtTheNextCall) {
    loop.use_entry_points(no_ptt, no_init, nothing_read, no_init, accept_write);
    FakeSoundBackend fake(48000, Clock::external);
    auto sound = std::make_unique<SoundInterface>(fake, loop, quiet);
    sound->init(48000);
    const int loop_out = sound->output_count() - 1;  // 2
    std::atomic<bool> stop{false};
    std::atomic<int> loop_seen{0};
    {
        DeviceThread device(fake);
        std::thread ui([&] {
            for (int i = 0; !stop.load(); ++i) {
                sound->select_input(i % 2, (i / 2) % 2 == 0);
                sound->select_output((i % 3 == 0) ? loop_out : i % 2, true);
                loop_seen += sound->output_is_loop() ? 1 : 0;
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
        std::vector<std::int16_t> block(n, 1);
        EXPECT_TRUE(finishes([&] {
            for (int k = 0; k < 150; ++k) {
                sound->read_block(block.data());
                sound->write_block(block.data());
            }
        }));
        stop.store(true);
        ui.join();
        // The last choice, made when nobody else selects, is the one opened.
        sound->select_input(1, true);
        sound->select_output(0, true);
        sound->read_block(block.data());
        sound->write_block(block.data());
        sound->shutdown();
    }
    for (const auto& open : fake.opens()) {
        EXPECT_TRUE(open.device == 0 || open.device == 1) << open.device;
    }
    const auto opens = fake.opens();
    ASSERT_GE(opens.size(), 2u);
    EXPECT_EQ(opens.back().device, 0);
    EXPECT_GT(loop_seen.load(), 0);
    EXPECT_GT(loop_writes.load(), 0);
}

TEST_F(SoundThreads, DeadOrVanishedDevicesNeverHangTheWorker) {
    {
        FakeSoundBackend fake(48000, Clock::external);
        fake.fail_open(Direction::input, true);
        fake.fail_open(Direction::output, true);
        SoundInterface sound(fake, loop, quiet);
        sound.init(48000);
        sound.select_output(0, true);
        std::vector<std::int16_t> block(n);
        EXPECT_TRUE(finishes([&] {
            for (int k = 0; k < 5; ++k) {
                EXPECT_EQ(sound.read_block(block.data()), SoundInterface::Read::nothing);
                EXPECT_TRUE(sound.write_block(block.data()));
            }
            sound.shutdown();
        }));
    }
    {
        FakeSoundBackend fake(48000, Clock::external);
        SoundInterface sound(fake, loop, quiet);
        sound.init(48000);
        sound.select_output(0, true);
        std::vector<std::int16_t> block(n);
        DeviceThread device(fake);
        EXPECT_TRUE(finishes([&] {
            for (int k = 0; k < 10; ++k) {
                sound.read_block(block.data());
                sound.write_block(block.data());
            }
            fake.vanish(Direction::input);
            fake.vanish(Direction::output);
            for (int k = 0; k < 15; ++k) {
                sound.read_block(block.data());
                sound.write_block(block.data());
            }
            sound.shutdown();
        }));
    }
}

}  // namespace
}  // namespace tarpo::sound
