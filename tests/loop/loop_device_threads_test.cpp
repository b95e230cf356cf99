// Two TARPO instances on one machine talking through the loop library: A's transmit port is
// B's receive port and the other way round. Each instance loads its own copy of the library
// (the copies have separate state, as two processes would), B reads on a thread of its own
// while A transmits. The PTT datagrams go to ports nobody receives audio on:
//   A: rx base,     tx base + 2, PTT base + 3
//   B: rx base + 2, tx base,     PTT base + 1
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "sound/loop_library.h"
#include "tests/loop/loop_udp.h"

namespace {

namespace fs = std::filesystem;
using tarpo::loop_test::seeded_samples;
using tarpo::loop_test::TempWorkDir;
using tarpo::loop_test::UdpSocket;
using tarpo::sound::LoopLibrary;

constexpr int block = 1920;

// Reads up to `blocks` blocks, giving up after `misses` empty reads in a row (each one a
// bounded wait of 60 ms), and keeps them as 16-bit samples.
void read_blocks(LoopLibrary& loop, int blocks, int misses, std::vector<std::int16_t>& got,
                 std::atomic<int>& count) {
    std::vector<double> buffer(block);
    for (int empty = 0; count.load() < blocks && empty < misses;) {
        if (!loop.read_rx(buffer.data())) {
            ++empty;
            continue;
        }
        empty = 0;
        for (const double v : buffer) got.push_back(static_cast<std::int16_t>(v));
        count.fetch_add(1);
    }
}

TEST(LoopTwoInstances, EachHearsTheOtherAndPttBracketsTheAudio) {
    TempWorkDir root;
    const int base = tarpo::loop_test::free_ports(4);
    for (const char* name : {"a", "b"}) {
        fs::create_directory(root.dir() / name);
        fs::copy_file(TARPO_LOOP_PATH, root.dir() / name / "libtarpo-loop.so");
    }
    LoopLibrary a, b;
    ASSERT_TRUE(a.load((root.dir() / "a" / "libtarpo-loop.so").string()));
    ASSERT_TRUE(b.load((root.dir() / "b" / "libtarpo-loop.so").string()));
    ASSERT_NE(a.read_rx, b.read_rx) << "both instances share one copy of the library";

    // Each instance reads its loop.txt from the working directory at its starts.
    root.write("loop.txt",
               "rx_port " + std::to_string(base) + "\ntx_port " + std::to_string(base + 2) + "\n");
    a.init_rx_recording(48000, block);
    a.init_tx_playback(48000, block);
    root.write("loop.txt",
               "rx_port " + std::to_string(base + 2) + "\ntx_port " + std::to_string(base) + "\n");
    b.init_rx_recording(48000, block);
    b.init_tx_playback(48000, block);
    UdpSocket ptt_a(base + 3), ptt_b(base + 1);
    ASSERT_TRUE(ptt_a.bound() && ptt_b.bound());

    // A transmits one second (25 blocks) while B receives.
    constexpr int blocks = 25;
    const auto sent = seeded_samples(blocks * block, 2024);
    std::vector<std::int16_t> heard;
    std::atomic<int> count{0};
    a.set_ptt(1);
    const auto on = ptt_a.receive(1000);
    ASSERT_TRUE(on);
    EXPECT_EQ(on->text(), "PTT 1");
    std::thread receiver([&] { read_blocks(b, blocks, 50, heard, count); });
    std::vector<double> samples(block);
    for (int k = 0; k < blocks; ++k) {
        std::copy(sent.begin() + k * block, sent.begin() + (k + 1) * block, samples.begin());
        a.write_tx(samples.data());
    }
    a.set_ptt(0);
    const auto off = ptt_a.receive(1000);
    receiver.join();
    ASSERT_TRUE(off);
    EXPECT_EQ(off->text(), "PTT 0");
    EXPECT_FALSE(ptt_a.receive(50));
    EXPECT_FALSE(ptt_b.receive(50));  // B never keyed
    ASSERT_EQ(count.load(), blocks);
    EXPECT_EQ(heard, sent);
    std::vector<double> buffer(block);
    EXPECT_EQ(b.read_rx(buffer.data()), 0);  // nothing after the last block

    // And back: B answers with five blocks, A hears them.
    const auto answer = seeded_samples(5 * block, 99);
    std::vector<std::int16_t> heard_a;
    std::atomic<int> count_a{0};
    std::thread listener([&] { read_blocks(a, 5, 50, heard_a, count_a); });
    b.set_ptt(1);
    for (int k = 0; k < 5; ++k) {
        std::copy(answer.begin() + k * block, answer.begin() + (k + 1) * block, samples.begin());
        b.write_tx(samples.data());
    }
    b.set_ptt(0);
    listener.join();
    EXPECT_EQ(heard_a, answer);
    const auto b_on = ptt_b.receive(1000);
    const auto b_off = ptt_b.receive(1000);
    ASSERT_TRUE(b_on && b_off);
    EXPECT_EQ(b_on->text() + b_off->text(), "PTT 1PTT 0");
}

}  // namespace
