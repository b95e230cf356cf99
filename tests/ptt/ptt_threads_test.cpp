// The port dialog changing the port (user-interface thread) while the worker keys and
// unkeys: no torn state (ThreadSanitizer in CI), and once the worker has unkeyed and the port
// is set to None, no line anywhere is left raised.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "ptt/ptt.h"
#include "sound/loop_library.h"
#include "tests/support/serial_fake.h"

namespace {

using tarpo::ptt::FakeSerialLines;
using tarpo::ptt::PttPort;
using tarpo::sound::LoopLibrary;
using tarpo::sound::LoopOutputQuery;

struct SoundCardOutput : LoopOutputQuery {
    bool output_is_loop() const override { return false; }
};

TEST(PttThreads, PortChangesDuringKeyingLeaveNothingRaised) {
    FakeSerialLines lines;
    LoopLibrary loop;
    SoundCardOutput output;
    // Three USB adapters in a /dev tree made here.
    const std::string root =
        ::testing::TempDir() + "tarpo-ptt-threads-" + std::to_string(::getpid());
    std::filesystem::create_directories(root + "/dev/serial/by-id");
    for (const char* p : {"usb-a", "usb-b", "usb-c"}) {
        std::ofstream(root + "/dev/serial/by-id/" + p);
        lines.add_port(root + "/dev/serial/by-id/" + p);
    }
    PttPort ptt(loop, output, lines, {root + "/dev", root + "/sys"}, root + "/txport.bin");

    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load()) {
            ptt.set(true);
            std::this_thread::yield();
            ptt.set(false);
        }
    });
    std::mt19937 rng(77);
    for (int i = 0; i < 3000; ++i) ptt.open_port("0123"[rng() % 4]);
    stop = true;
    worker.join();
    ptt.open_port('0');
    EXPECT_FALSE(lines.any_raised());
    EXPECT_FALSE(ptt.port_open());
    std::filesystem::remove_all(root);
}

}  // namespace
