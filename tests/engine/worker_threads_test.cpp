// The audio worker on the fake sound system, driven in real time by a second thread as a
// sound card's callbacks would be, with the user interface's flag changes from the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/worker.h"
#include "tests/support/engine_on_fakes.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tarpo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The loop library's PTT, recorded.
struct LoopPtt {
    static inline std::mutex mutex;
    static inline std::vector<int> calls;
    static void set_ptt(int on) {
        std::lock_guard lock(mutex);
        calls.push_back(on);
    }
    static void init(int, int) {}
    static int read(double* samples) {
        std::fill(samples, samples + 1920, 0.0);
        std::this_thread::sleep_for(40ms);
        return 1;
    }
    static int write(double*) {
        std::this_thread::sleep_for(40ms);
        return 1;
    }
    static std::vector<int> take() {
        std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }
};

class Worker : public test::EngineOnFakes {
  protected:
    void SetUp() override {
        temp.write("dev/serial/by-id/usb-rig-if00");
        port = (dir / "dev/serial/by-id/usb-rig-if00").string();
        lines.add_port(port);
        make_engine(ptt::SerialPortDirs{(dir / "dev").string(), (dir / "sys").string()});
        LoopPtt::take();
    }

    // The program's start-up, then the sound card's clock.
    void start(bool with_loop = false) {
        if (with_loop)
            engine->loop().use_entry_points(LoopPtt::set_ptt, LoopPtt::init, LoopPtt::read,
                                            LoopPtt::init, LoopPtt::write);
        engine->ptt_port_open('1');
        start_worker();
    }
    bool stop() { return stop_worker(); }
    void transmit_for(std::chrono::milliseconds d) {
        set_tx(true);
        std::this_thread::sleep_for(d);
        set_tx(false);
    }
    std::vector<std::string> line_changes() const {
        std::vector<std::string> out;
        for (const auto& entry : lines.log())
            if (entry.rfind("rts", 0) == 0 || entry.rfind("dtr", 0) == 0) out.push_back(entry);
        return out;
    }

    tarpo::test::TempDir temp{"tarpo-worker"};
    const fs::path dir = temp.dir();
    std::string port;
};

TEST_F(Worker, KeysRtsThenDtrAndUnkeysAfterEveryTransmitPhase) {
    start();
    std::this_thread::sleep_for(300ms);
    transmit_for(500ms);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(stop());
    // Opening cleared both lines; one transmission keyed RTS then DTR and unkeyed in the same
    // order; the pass through the transmit set-up at shutdown unkeys once more.
    const std::vector<std::string> expected = {"rts 0", "dtr 0", "rts 1", "dtr 1",
                                               "rts 0", "dtr 0", "rts 0", "dtr 0"};
    auto changes = line_changes();
    // The open may clear the lines in either order; compare from the first key.
    const auto key = std::find(changes.begin(), changes.end(), "rts 1");
    ASSERT_NE(key, changes.end());
    EXPECT_EQ(std::vector<std::string>(key, changes.end()),
              std::vector<std::string>(expected.begin() + 2, expected.end()));
    EXPECT_FALSE(lines.any_raised());
    EXPECT_TRUE(LoopPtt::take().empty());
}

TEST_F(Worker, TheLoopDeviceTakesThePttAndTheSerialLinesStayStill) {
    engine->controls().tx_output_device = 2;  // "out 0", "out 1", then the loop entry
    start(true);
    ASSERT_EQ(engine->sound_output_count(), 3);
    lines.clear_log();  // (written before the worker started)
    std::this_thread::sleep_for(300ms);
    transmit_for(400ms);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(stop());
    EXPECT_TRUE(line_changes().empty());
    const auto calls = LoopPtt::take();
    // Keyed once, unkeyed after the transmission and again at shutdown; the sound-card
    // output opens in between unkey the loop device too.
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), 1), 1);
    EXPECT_EQ(calls.back(), 0);
}

// The median of the lags (samples) at which the output played the ramp's samples.
double median_lag(std::vector<std::int64_t> lags) {
    if (lags.empty()) return 1e9;
    std::nth_element(lags.begin(), lags.begin() + lags.size() / 2, lags.end());
    return static_cast<double>(lags[lags.size() / 2]);
}

TEST_F(Worker, AnalogPassesAudioStraightThroughBothWaysInPieces) {
    // Every played sample of the ramp, with how far the input had got when it played.
    std::int64_t captured = 0;
    std::atomic<int> phase{0};
    std::vector<std::int64_t> lags[2];
    fake.set_source([&](std::int64_t k, std::int16_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = sound::FakeSoundBackend::ramp(k + static_cast<std::int64_t>(i));
        captured = k + static_cast<std::int64_t>(count);
    });
    fake.set_sink([&](const std::int16_t* samples, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            if (samples[i] != 0) lags[phase.load()].push_back((captured - samples[i]) % 32768);
    });
    engine->controls().analog_mode = 1;
    start();
    std::this_thread::sleep_for(800ms);
    phase = 1;
    transmit_for(800ms);
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(stop());
    // In both phases the output must carry runs of the ramp intact.
    const auto played = fake.played();
    int longest = 0;
    int run = 0;
    for (std::size_t i = 1; i < played.size(); ++i) {
        run = played[i] != 0 && played[i] == static_cast<std::int16_t>((played[i - 1] + 1) % 32768)
                  ? run + 1
                  : 0;
        longest = std::max(longest, run);
    }
    EXPECT_GE(longest, 1920);
    // 20 ms pieces: receiving adds a piece and the voice cushion (about 40 ms), sending a
    // piece, the microphone cushion and the paced queue (about 70 ms); whole blocks took
    // 80 and 140 ms.
    EXPECT_LT(median_lag(lags[0]) / 48.0, 65.0);
    EXPECT_LT(median_lag(lags[1]) / 48.0, 110.0);
}

// Loud samples (a burst's sine at 0.7 of full scale is above 10000 about 70 % of the time)
// among those played from `from` on.
int loud_samples(const std::vector<std::int16_t>& played, std::size_t from) {
    int loud = 0;
    for (std::size_t i = from; i < played.size(); ++i) loud += std::abs(played[i]) > 10000;
    return loud;
}

TEST_F(Worker, TxidBurstGoesOutKeyedAtTheStartOfATransmissionAndNeverAtShutdown) {
    engine->controls().txid_on = 1;
    start();
    std::this_thread::sleep_for(300ms);
    auto before = fake.played().size();
    // Transmit until the burst (1.4 s at the card's pace) has been heard: the card's clock,
    // not the wall clock, on a busy machine.
    auto& c = engine->controls();
    c.rx_active = 0;
    c.tx_active = 1;
    for (int i = 0; i < 100 && loud_samples(fake.played(), before) <= 24000; ++i)
        std::this_thread::sleep_for(100ms);
    c.tx_active = 0;
    c.rx_active = 1;
    EXPECT_GT(loud_samples(fake.played(), before), 24000);
    auto changes = line_changes();
    EXPECT_EQ(std::count(changes.begin(), changes.end(), "rts 1"), 1);
    // What was queued plays out: wait for a quarter second of quiet output.
    for (int i = 0; i < 100; ++i) {
        const auto played = fake.played();
        if (played.size() > 12000 && loud_samples(played, played.size() - 12000) == 0) break;
        std::this_thread::sleep_for(100ms);
    }

    // Shutdown within the window's one-second wait, silent and unkeyed.
    before = fake.played().size();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(stop());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_EQ(loud_samples(fake.played(), before), 0);
    changes = line_changes();
    EXPECT_EQ(std::count(changes.begin(), changes.end(), "rts 1"), 1);
    EXPECT_FALSE(lines.any_raised());
}

TEST_F(Worker, ADeadDeviceNeverHoldsUpTheShutdown) {
    fake.fail_open(sound::Direction::input, true);
    fake.fail_open(sound::Direction::output, true);
    start();
    std::this_thread::sleep_for(300ms);
    transmit_for(300ms);
    std::this_thread::sleep_for(200ms);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(stop());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
}

// The median RMS of the 40 ms pieces of what one transmission played: the receive phase's
// output and the silence around the switches, played before and after it, stay in the minority.
// Every 40 ms of the tune signal holds whole periods of it, so its pieces have one RMS.
double transmitted_rms(const std::vector<std::int16_t>& played, std::size_t from, std::size_t to) {
    std::vector<double> pieces;
    for (std::size_t i = from; i + 1920 <= to; i += 1920) {
        double sum = 0;
        for (std::size_t k = i; k < i + 1920; ++k) sum += double(played[k]) * played[k];
        pieces.push_back(std::sqrt(sum / 1920));
    }
    if (pieces.empty()) return 0;
    std::nth_element(pieces.begin(), pieces.begin() + pieces.size() / 2, pieces.end());
    return pieces[pieces.size() / 2];
}

// Tune sends the modem's mean power (within 1 dB: the modem's level varies a little with its
// frames), and the drive scales whatever is sent by its dB alone (0.05 dB: rounding to 16
// bits), the peak meter seeing the scaled output.
TEST_F(Worker, TuneAtTheModemsMeanPowerAndTheDriveScalesIt) {
    start();
    std::this_thread::sleep_for(300ms);
    auto& c = engine->controls();
    auto send = [&](bool tune, int drive_db) {
        c.tune = tune ? 1 : 0;
        c.drive_db = drive_db;
        engine->monitor().tx_peak.take(0);
        const std::size_t before = fake.played().size();
        transmit_for(2000ms);
        std::this_thread::sleep_for(200ms);
        const auto played = fake.played();
        return transmitted_rms(played, before, played.size());
    };
    const double modem = send(false, 0);
    const double tune = send(true, 0);
    const int tune_peak = engine->monitor().tx_peak.take(0);
    const double quiet = send(true, -12);
    const int quiet_peak = engine->monitor().tx_peak.take(0);
    ASSERT_TRUE(stop());
    ASSERT_GT(modem, 1000.0);
    EXPECT_NEAR(20 * std::log10(tune / modem), 0.0, 1.0) << tune << " " << modem;
    EXPECT_NEAR(20 * std::log10(quiet / tune), -12.0, 0.05);
    EXPECT_NEAR(20 * std::log10(double(quiet_peak) / tune_peak), -12.0, 0.05);
    EXPECT_EQ(engine::drive_gain(-40), engine::drive_gain(-30));  // held at the range's ends
    EXPECT_EQ(engine::drive_gain(3), 1.0);
}

}  // namespace
