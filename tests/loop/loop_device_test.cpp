// The SDR loop device library: its loop.txt parser and sample fifo directly, then the built
// libtarpo-loop.so through the program's own loader, over loopback UDP: blocks reassembled
// from datagrams of any size, the transmit conversion, sound-card pacing, PTT datagrams,
// loop.txt overrides, a port already in use.
//
// Time bounds: lower bounds are the behaviour (a write must not run ahead of real time);
// upper bounds only catch a hang and are loose because CI runs this under sanitizers on two
// shared cores.
#include "loop/loop_device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <thread>

#include "loop/loop_config.h"
#include "sound/loop_library.h"
#include "tests/loop/loop_udp.h"

namespace {

using namespace std::chrono_literals;
using tarpo::loop::loop_config_load;
using tarpo::loop::loop_config_parse;
using tarpo::loop::LoopConfig;
using tarpo::loop_test::seeded_samples;
using tarpo::loop_test::TempWorkDir;
using tarpo::loop_test::UdpSocket;
using tarpo::sound::LoopLibrary;
using Clock = std::chrono::steady_clock;

constexpr int block = 1920;
constexpr auto block_time = 40ms;

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// ---------------------------------------------------------------------------------------
// loop.txt

TEST(LoopConfigFile, KeysInAnyOrderWithCommentsBlankLinesAndCrLf) {
    const auto c = loop_config_parse(
        "# ports of the loop device\r\n"
        "\n"
        "tx_port 9001   # audio out\r\n"
        "  tx_host\t10.1.2.3\n"
        "rx_port 65535");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->rx_port, 65535);
    EXPECT_EQ(c->tx_port, 9001);
    EXPECT_EQ(c->ptt_port(), 9002);
    EXPECT_EQ(c->tx_address, 0x0a010203u);

    const auto local = loop_config_parse("tx_host localhost\n");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->tx_address, tarpo::loop::loopback_address);
}

TEST(LoopConfigFile, KeysLeftOutAndEmptyFilesKeepTheDefaults) {
    const LoopConfig defaults;
    EXPECT_EQ(defaults.rx_port, 7355);
    EXPECT_EQ(defaults.tx_port, 7356);
    EXPECT_EQ(defaults.ptt_port(), 7357);
    EXPECT_EQ(defaults.tx_address, 0x7f000001u);
    EXPECT_EQ(loop_config_parse(""), defaults);
    EXPECT_EQ(loop_config_parse("# nothing\n\n   \n"), defaults);
    LoopConfig rx_only;
    rx_only.rx_port = 8000;
    EXPECT_EQ(loop_config_parse("rx_port 8000"), rx_only);
}

TEST(LoopConfigFile, AnyBadLineRejectsTheWholeFile) {
    for (const char* bad : {
             "rx_port",            // no value
             "rx_port 7000 7001",  // two values
             "rx_port 0",          // ports are 1..65535
             "rx_port 65536",
             "rx_port 99999999999",
             "rx_port -5",
             "rx_port +5",
             "rx_port 7e3",
             "rx_port 0x1c",
             "tx_port 65535",  // leaves no port for the PTT
             "tx_host 300.1.2.3",
             "tx_host example.org",
             "tx_host ::1",
             "tx_host 1.2.3",
             "colour blue",  // unknown key
             "RX_PORT 7000",
             "rx_port 7000\ntx_port 7001\nbogus line",
         }) {
        EXPECT_FALSE(loop_config_parse(bad)) << bad;
    }
}

TEST(LoopConfigFile, UnreadableHugeOrBinaryFilesGiveTheDefaults) {
    TempWorkDir dir;
    EXPECT_EQ(loop_config_load("missing.txt"), LoopConfig{});
    dir.write("binary.txt", std::string("rx_port 8000\n\0\x01\x02", 16));
    EXPECT_EQ(loop_config_load("binary.txt"), LoopConfig{});
    dir.write("huge.txt", "rx_port 8000\n" + std::string(5000, '#'));
    EXPECT_EQ(loop_config_load("huge.txt"), LoopConfig{});
    dir.write("bad.txt", "rx_port 8000\ntx_port 70000\n");
    EXPECT_EQ(loop_config_load("bad.txt"), LoopConfig{});
    dir.write("good.txt", "rx_port 8000\n");
    EXPECT_EQ(loop_config_load("good.txt").rx_port, 8000);
}

// ---------------------------------------------------------------------------------------
// The receive fifo against a deque that does the obvious thing.

TEST(LoopSampleFifo, MatchesABoundedQueueUnderRandomPushesAndPops) {
    std::mt19937 rng(20240611);
    for (const std::size_t capacity : {1u, 7u, 1920u}) {
        tarpo::loop::SampleFifo fifo;
        fifo.reset(capacity);
        std::deque<std::int16_t> model;
        for (int step = 0; step < 3000; ++step) {
            if (rng() % 2) {
                // Lengths in bytes up to three capacities, odd ones included.
                std::vector<std::uint8_t> bytes(rng() % (6 * capacity + 2));
                for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
                fifo.push_le16(bytes.data(), bytes.size());
                for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
                    model.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
                while (model.size() > capacity) model.pop_front();
            } else {
                const std::size_t n = model.empty() ? 0 : rng() % (model.size() + 1);
                std::vector<double> out(n);
                fifo.pop(out.data(), n);
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(out[i], model.front()) << "capacity " << capacity;
                    model.pop_front();
                }
            }
            ASSERT_EQ(fifo.size(), model.size());
        }
    }
}

// ---------------------------------------------------------------------------------------
// The library as the program loads it. Every test works in a fresh directory whose loop.txt
// gives ports no other test process uses: rx = base, tx = base + 1, PTT = base + 2.

class LoopLib : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(loop_.load(TARPO_LOOP_PATH)) << TARPO_LOOP_PATH;
        base_ = tarpo::loop_test::free_ports(4);
        dir_.write_loop_txt(rx_port(), tx_port());
    }
    int rx_port() const { return base_; }
    int tx_port() const { return base_ + 1; }
    int ptt_port() const { return base_ + 2; }

    // Reads blocks until one read gives nothing, appending them to `got`.
    void read_all(std::vector<std::int16_t>& got, int block_size) {
        std::vector<double> buffer(block_size);
        while (loop_.read_rx(buffer.data()))
            for (const double v : buffer) got.push_back(static_cast<std::int16_t>(v));
    }

    TempWorkDir dir_;
    LoopLibrary loop_;
    int base_ = 0;
};

TEST_F(LoopLib, BlocksAreReassembledFromDatagramsOfAnySize) {
    for (const int block_size : {block, 1000}) {
        loop_.init_rx_recording(48000, block_size);
        UdpSocket radio;
        std::mt19937 rng(block_size);
        // Datagrams of 0..5000 bytes, odd lengths included (their last byte is not a sample),
        // with PTT texts among them, which are never audio.
        std::vector<std::int16_t> expected;
        while (expected.size() < 12u * block_size) {
            const std::size_t length = rng() % 5001;
            std::vector<std::uint8_t> bytes(length);
            for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
            ASSERT_TRUE(radio.send_to(rx_port(), bytes.data(), bytes.size()));
            for (std::size_t i = 0; i + 1 < length; i += 2)
                expected.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
            if (rng() % 4 == 0) radio.send_to(rx_port(), rng() % 2 ? "PTT 1" : "PTT 0");
        }
        std::vector<std::int16_t> got;
        read_all(got, block_size);
        const std::size_t whole = expected.size() / block_size * block_size;
        ASSERT_EQ(got.size(), whole) << "block size " << block_size;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));

        // The partial block left over is completed by the next datagram.
        const std::size_t rest = expected.size() - whole;
        const auto more = seeded_samples(block_size - rest, 7);
        radio.send_samples(rx_port(), more);
        std::vector<double> buffer(block_size);
        ASSERT_EQ(loop_.read_rx(buffer.data()), 1);
        EXPECT_EQ(buffer[0], expected[whole]);
        EXPECT_EQ(buffer[block_size - 1], more.back());
    }
}

TEST_F(LoopLib, HugeEmptyAndOneByteDatagramsAreAbsorbed) {
    loop_.init_rx_recording(48000, block);
    UdpSocket radio;
    radio.send_to(rx_port(), "", 0);
    radio.send_to(rx_port(), "x", 1);
    // The largest UDP payload over IPv4: 65507 bytes, 32753 samples and one odd byte.
    std::vector<std::int16_t> ramp(32753);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(i - 16000);
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t s : ramp) {
        bytes.push_back(static_cast<std::uint8_t>(s & 0xff));
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
    }
    bytes.push_back(0x55);
    ASSERT_EQ(bytes.size(), 65507u);
    ASSERT_TRUE(radio.send_to(rx_port(), bytes.data(), bytes.size()));

    std::vector<std::int16_t> got;
    read_all(got, block);
    ASSERT_EQ(got.size(), 17u * block);  // 32753 = 17 × 1920 + 113
    EXPECT_TRUE(std::equal(got.begin(), got.end(), ramp.begin()));
}

TEST_F(LoopLib, ReadWithoutDataGivesNothingAfterAboutOneBlock) {
    loop_.init_rx_recording(48000, block);
    std::vector<double> buffer(block, 123.0);
    const auto t0 = Clock::now();
    EXPECT_EQ(loop_.read_rx(buffer.data()), 0);
    const double elapsed = ms_since(t0);
    EXPECT_GE(elapsed, 40.0);  // paced like a sound card: the worker must not spin
    EXPECT_LT(elapsed, 1000.0);
    for (const double v : buffer) ASSERT_EQ(v, 123.0);  // the block is left alone
}

TEST_F(LoopLib, AStartDropsAudioThatArrivedBefore) {
    loop_.init_rx_recording(48000, block);
    UdpSocket radio;
    for (int i = 0; i < 3; ++i) radio.send_samples(rx_port(), seeded_samples(block, i));
    loop_.init_rx_recording(48000, block);  // as at a switch back from transmit
    std::vector<double> buffer(block);
    EXPECT_EQ(loop_.read_rx(buffer.data()), 0);
}

TEST_F(LoopLib, TransmitSamplesAreTruncatedLimitedAndLittleEndian) {
    UdpSocket radio(tx_port());
    ASSERT_TRUE(radio.bound());
    loop_.init_tx_playback(48000, block);
    std::vector<double> samples(block, 0.0);
    const std::vector<std::pair<double, std::int16_t>> golden = {
        {0.0, 0},
        {1.9, 1},
        {-1.9, -1},
        {0x1234, 0x1234},
        {32767.5, 32767},
        {40000.0, 32767},
        {-32768.9, -32768},
        {-1e9, -32768},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), 32767},
    };
    for (std::size_t i = 0; i < golden.size(); ++i) samples[i] = golden[i].first;
    samples[block - 1] = -2.0;
    ASSERT_EQ(loop_.write_tx(samples.data()), 1);

    const auto d = radio.receive(1000);
    ASSERT_TRUE(d);
    ASSERT_EQ(d->bytes.size(), 2u * block);  // 1920 samples fit one datagram
    EXPECT_EQ(d->bytes[6], 0x34);            // sample 3 is 0x1234, low byte first
    EXPECT_EQ(d->bytes[7], 0x12);
    for (std::size_t i = 0; i < golden.size(); ++i) {
        const auto s = static_cast<std::int16_t>(d->bytes[2 * i] | d->bytes[2 * i + 1] << 8);
        EXPECT_EQ(s, golden[i].second) << "sample " << i << " from " << golden[i].first;
    }
    EXPECT_EQ(d->bytes[2 * block - 2], 0xfe);
    EXPECT_EQ(d->bytes[2 * block - 1], 0xff);
}

TEST_F(LoopLib, LargeTransmitBlocksLeaveInDatagramsOfAtMost1920Samples) {
    UdpSocket radio(tx_port());
    loop_.init_tx_playback(48000, 5000);
    const auto sent = seeded_samples(5000, 3);
    std::vector<double> samples(sent.begin(), sent.end());
    loop_.write_tx(samples.data());
    std::vector<std::int16_t> got;
    for (const std::size_t expected : {1920u, 1920u, 1160u}) {
        const auto d = radio.receive(1000);
        ASSERT_TRUE(d);
        ASSERT_EQ(d->bytes.size(), 2 * expected);
        for (std::size_t i = 0; i < d->bytes.size(); i += 2)
            got.push_back(static_cast<std::int16_t>(d->bytes[i] | d->bytes[i + 1] << 8));
    }
    EXPECT_EQ(got, sent);
}

TEST_F(LoopLib, WritesKeepRealTimeAndRestartTheClockAfterAPause) {
    loop_.init_tx_playback(48000, block);
    std::vector<double> samples(block, 0.0);
    // 25 blocks are one second of audio; four may be queued ahead, so the 25th write returns
    // 21 block times after the first: 840 ms (a few ms less for the clock's granularity).
    auto t0 = Clock::now();
    for (int i = 0; i < 25; ++i) loop_.write_tx(samples.data());
    double elapsed = ms_since(t0);
    EXPECT_GE(elapsed, 835.0);
    EXPECT_LT(elapsed, 3000.0);

    // After a pause the queue has run dry: writing restarts at real time instead of sending
    // the missed time at full speed. 10 blocks: (10 − 4) × 40 = 240 ms.
    std::this_thread::sleep_for(400ms);
    t0 = Clock::now();
    for (int i = 0; i < 10; ++i) loop_.write_tx(samples.data());
    elapsed = ms_since(t0);
    EXPECT_GE(elapsed, 235.0);
    EXPECT_LT(elapsed, 2000.0);
}

// The order is checked call by call: after each call the test takes what arrived, waiting for
// what must come and looking briefly (50 ms) for anything that must not.
TEST_F(LoopLib, PttDatagramsBracketTheAudioAndUnkeyingWaitsForItsEnd) {
    UdpSocket radio(tx_port());
    UdpSocket ptt(ptt_port());
    ASSERT_TRUE(radio.bound() && ptt.bound());
    std::vector<double> samples(block, 100.0);

    // The worker's order: key first, then the output starts at the first write.
    loop_.set_ptt(1);
    const auto on = ptt.receive(1000);
    ASSERT_TRUE(on);
    EXPECT_EQ(on->bytes.size(), 5u);
    EXPECT_EQ(on->text(), "PTT 1");
    EXPECT_FALSE(radio.receive(50));

    loop_.init_tx_playback(48000, block);
    const auto t0 = Clock::now();
    for (int i = 0; i < 3; ++i) loop_.write_tx(samples.data());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(radio.receive(1000)) << "block " << i;
    EXPECT_FALSE(ptt.receive(50));

    loop_.set_ptt(0);
    // The three blocks went out at once (the queue takes four) and play for 120 ms; "PTT 0"
    // waits for that end, so that a radio never cuts the tail off. 5 ms for the clock's grain.
    EXPECT_GE(ms_since(t0), 115.0);
    const auto off = ptt.receive(1000);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->text(), "PTT 0");
    EXPECT_FALSE(radio.receive(50));
    EXPECT_FALSE(ptt.receive(50));
}

TEST_F(LoopLib, APortInUseDeliversNothingAndSaysSoUntilItIsFree) {
    auto squatter = std::make_unique<UdpSocket>(rx_port());
    ASSERT_TRUE(squatter->bound());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    loop_.init_rx_recording(48000, block);
    UdpSocket radio;
    radio.send_samples(rx_port(), seeded_samples(block, 1));  // goes to the squatter
    std::vector<double> buffer(block);
    const auto t0 = Clock::now();
    EXPECT_EQ(loop_.read_rx(buffer.data()), 0);
    EXPECT_GE(ms_since(t0), 40.0);  // still paced, so the worker does not spin
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("receive port " + std::to_string(rx_port())), std::string::npos) << said;

    // The next start tries again.
    squatter.reset();
    loop_.init_rx_recording(48000, block);
    const auto sent = seeded_samples(block, 2);
    radio.send_samples(rx_port(), sent);
    ASSERT_EQ(loop_.read_rx(buffer.data()), 1);
    EXPECT_EQ(buffer[5], sent[5]);
}

TEST_F(LoopLib, ANewLoopTxtTakesEffectAtTheNextStart) {
    loop_.init_rx_recording(48000, block);
    const int moved = tarpo::loop_test::free_ports(1);
    ASSERT_NE(moved, rx_port());
    dir_.write_loop_txt(moved, tx_port());
    loop_.init_rx_recording(48000, block);
    UdpSocket radio;
    radio.send_samples(rx_port(), seeded_samples(block, 1));  // the old port: nobody listens
    std::vector<double> buffer(block);
    EXPECT_EQ(loop_.read_rx(buffer.data()), 0);
    radio.send_samples(moved, seeded_samples(block, 2));
    EXPECT_EQ(loop_.read_rx(buffer.data()), 1);
}

TEST_F(LoopLib, ABadLoopTxtLeavesTheDefaultPorts) {
    // The default receive port is checked by binding it: the library holds it or not.
    if (!UdpSocket(tarpo::loop::default_rx_port).bound())
        GTEST_SKIP() << "port 7355 is in use on this machine";
    dir_.write("loop.txt", "rx_port " + std::to_string(rx_port()) + "\ntx_port 99999\n");
    loop_.init_rx_recording(48000, block);
    EXPECT_FALSE(UdpSocket(tarpo::loop::default_rx_port).bound());
    dir_.write_loop_txt(rx_port(), tx_port());
    loop_.init_rx_recording(48000, block);
    EXPECT_TRUE(UdpSocket(tarpo::loop::default_rx_port).bound());
}

}  // namespace
