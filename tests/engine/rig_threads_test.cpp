// The program's rig link against a real Hamlib rigctld (the dummy rig): PTT through the rig
// follows the transmissions of the audio worker on the fake sound system, the frequency
// readout follows the dial, and a rig that dies or hangs during a transmission is reported
// once and holds up neither the worker nor the shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "rig_proxy.h"
#include "rigctld.h"
#include "tests/support/engine_on_fakes.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tarpo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Condition>
bool wait_for(Condition condition, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class RigLink : public test::EngineOnFakes {
  protected:
    void SetUp() override {
        if (!rigctld.running()) GTEST_SKIP() << "rigctld (libhamlib-utils) cannot run here";
        make_engine();
        engine->set_radio_report([this](const std::string& text) {
            std::lock_guard lock(mutex);
            reports.push_back(text);
        });
        ptt::RadioSettings radio;
        radio.method = ptt::PttKind::hamlib_net;
        radio.net_host = "127.0.0.1";
        radio.net_port = rigctld.port();
        engine->radio_apply(radio);
        ASSERT_TRUE(wait_for([this] { return connected(); }, 5s));
    }
    bool connected() { return engine->radio_readout().state == ptt::RigReadout::State::connected; }
    // Samples of modem signal (not silence) among the last `n` played.
    std::size_t loud_samples(std::size_t n) {
        const auto played = fake.played();
        const auto from = played.size() > n ? played.end() - static_cast<long>(n) : played.begin();
        return static_cast<std::size_t>(
            std::count_if(from, played.end(), [](std::int16_t v) { return std::abs(v) > 100; }));
    }
    std::vector<std::string> taken_reports() {
        std::lock_guard lock(mutex);
        return reports;
    }

    test::Rigctld rigctld;
    std::mutex mutex;
    std::vector<std::string> reports;
};

TEST_F(RigLink, PttFollowsEachTransmissionWithItsAudio) {
    start_worker();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rigctld.rigctl("t"), "0");  // opening never keys
    for (int round = 0; round < 2; ++round) {
        set_tx(true);
        ASSERT_TRUE(wait_for([this] { return engine->radio_readout().keyed; }, 2s));
        std::this_thread::sleep_for(800ms);  // past the 640 ms of queued receive audio
        EXPECT_EQ(rigctld.rigctl("t"), "1");
        EXPECT_GT(loud_samples(9600), 4800u);  // the modem signal goes out while keyed
        set_tx(false);
        ASSERT_TRUE(wait_for([this] { return !engine->radio_readout().keyed; }, 2s));
        EXPECT_EQ(rigctld.rigctl("t"), "0");
    }
    EXPECT_TRUE(taken_reports().empty());
}

TEST_F(RigLink, FrequencyReadoutFollowsTheDial) {
    rigctld.rigctl("F 14236000");
    rigctld.rigctl("M USB 2400");
    // One poll may fall between the two commands: both are waited for.
    EXPECT_TRUE(wait_for(
        [this] {
            const ptt::RigReadout r = engine->radio_readout();
            return r.freq_hz == 14236000.0 && std::string(r.mode.data()) == "USB";
        },
        4s));
    rigctld.rigctl("F 7140500");
    EXPECT_TRUE(wait_for([this] { return engine->radio_readout().freq_hz == 7140500.0; }, 4s));
}

TEST_F(RigLink, ARigKilledDuringTransmissionIsReportedOnceAndNothingHangs) {
    start_worker();
    set_tx(true);
    ASSERT_TRUE(wait_for([this] { return engine->radio_readout().keyed; }, 2s));
    rigctld.kill();
    // Several polls and reconnection attempts go by; one report.
    ASSERT_TRUE(wait_for(
        [this] { return engine->radio_readout().state == ptt::RigReadout::State::failed; }, 4s));
    std::this_thread::sleep_for(3500ms);
    const auto texts = taken_reports();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("stopped answering"), std::string::npos) << texts[0];
    EXPECT_FALSE(engine->radio_readout().keyed);
    // The worker kept transmitting at the card's pace, and stops as always.
    EXPECT_GT(loud_samples(9600), 4800u);
    set_tx(false);
    const auto t0 = Clock::now();
    EXPECT_TRUE(engine->stop_worker());
    // The rig may still be keyed for all we know: a bounded wait, then a failure said.
    EXPECT_FALSE(engine->radio_close());
    EXPECT_LT(Clock::now() - t0, 6s);
    EXPECT_NE(taken_reports().back().find("did not confirm PTT off"), std::string::npos);
}

TEST_F(RigLink, AHungRigHoldsUpNeitherTheWorkerNorTheShutdown) {
    start_worker();
    std::this_thread::sleep_for(300ms);
    rigctld.pause(true);  // rigctld answers nothing from now on
    set_tx(true);
    std::this_thread::sleep_for(1500ms);
    EXPECT_GT(loud_samples(9600), 4800u);  // the worker did not wait for the rig
    set_tx(false);
    const auto t0 = Clock::now();
    EXPECT_TRUE(engine->stop_worker());
    // The key command may have reached the rig: the wait for its unkey is bounded.
    EXPECT_FALSE(engine->radio_close());
    EXPECT_LT(Clock::now() - t0, 7s);
    rigctld.pause(false);
    const auto texts = taken_reports();
    EXPECT_LE(texts.size(), 2u);
}

TEST_F(RigLink, ChangingTheMethodMidTransmissionUnkeysTheRig) {
    start_worker();
    set_tx(true);
    ASSERT_TRUE(wait_for([this] { return engine->radio_readout().keyed; }, 2s));
    EXPECT_EQ(rigctld.rigctl("t"), "1");
    engine->radio_apply(ptt::RadioSettings{});  // back to the serial lines
    EXPECT_EQ(rigctld.rigctl("t"), "0");
    EXPECT_EQ(engine->radio_readout().state, ptt::RigReadout::State::none);
    set_tx(false);
}

// The set-up dialog's checks before the worker runs: Test CAT reads the dial, Test PTT keys the
// rig for about a second and hears it confirm on and off, the test tone keys nothing, and the
// two inputs are metered at once.
TEST_F(RigLink, SetUpChecksReadTheDialAndKeyForASecond) {
    engine->sound_init(48000);
    devices.emplace(fake);  // the sound card's clock, without a worker
    ptt::RadioSettings radio = engine->radio_settings();
    const ptt::RigReadout dial = engine->check_cat(radio);
    EXPECT_EQ(dial.state, ptt::RigReadout::State::connected);
    EXPECT_GT(dial.freq_hz, 0);
    std::string seen = "0";
    std::thread watch([&] {
        for (int i = 0; i < 20 && seen != "1"; ++i) {
            seen = rigctld.rigctl("t");
            std::this_thread::sleep_for(50ms);
        }
    });
    const auto t0 = Clock::now();
    const std::string said = engine->check_ptt(radio, '0', 0);
    const auto took = Clock::now() - t0;
    watch.join();
    EXPECT_EQ(said, "The rig answered: PTT on for 1 s, then off.");
    EXPECT_EQ(seen, "1");
    EXPECT_GE(took, 1s);
    EXPECT_EQ(rigctld.rigctl("t"), "0");
    engine->check_output_tone(0);
    EXPECT_EQ(rigctld.rigctl("t"), "0");
    // Both inputs metered at once, the voice input on a second card of its own.
    sound::FakeSoundBackend second{48000, sound::FakeSoundBackend::Clock::external};
    sound::FakeDeviceThread second_devices(second);
    engine->use_meter_backend(second);
    int level = -1, voice = -1;
    for (int i = 0; i < 20 && (level <= 0 || voice <= 0); ++i) {
        std::this_thread::sleep_for(50ms);
        level = std::max(level, engine->check_input_level(0));
        voice = std::max(voice, engine->check_voice_input_level(0));
    }
    EXPECT_GT(level, 0);  // the fake inputs' ramp
    EXPECT_GT(voice, 0);
    engine->check_end();
}

// PTT on the serial port's lines, the dial read from a rigctld alone: the dial follows the rig,
// the transmission keys the lines, and not one PTT command (set or read) reaches the rig.
TEST(DialOnlyRig, ReadWithSerialPttAndNeverKeyed) {
    test::Rigctld rigctld;
    if (!rigctld.running()) GTEST_SKIP() << "rigctld (libhamlib-utils) cannot run here";
    test::RigProxy proxy(rigctld.port());
    test::TempDir temp;
    temp.write("dev/serial/by-id/usb-rig-if00");
    ptt::FakeSerialLines lines;
    lines.add_port(temp.path("dev/serial/by-id/usb-rig-if00").string());
    sound::FakeSoundBackend fake{48000, sound::FakeSoundBackend::Clock::external};
    engine::Engine engine(
        fake, lines, [](std::chrono::milliseconds) { std::this_thread::sleep_for(5ms); },
        ptt::SerialPortDirs{temp.path("dev").string(), temp.path("sys").string()});
    std::vector<std::string> reports;
    std::mutex mutex;
    engine.set_radio_report([&](const std::string& text) {
        std::lock_guard lock(mutex);
        reports.push_back(text);
    });
    rigctld.rigctl("F 7074000");
    ptt::RadioSettings radio;  // serial RTS and DTR
    radio.dial_rig = ptt::DialRig::net;
    const std::size_t colon = proxy.address().rfind(':');
    radio.net_host = proxy.address().substr(0, colon);
    radio.net_port = std::stoi(proxy.address().substr(colon + 1));
    engine.radio_apply(radio);
    ASSERT_TRUE(wait_for([&] { return engine.radio_readout().freq_hz == 7074000; }, 5s));
    EXPECT_FALSE(engine.radio_readout().keys);

    engine.sound_init(48000);
    engine.ptt_port_open('1');
    lines.clear_log();
    std::optional<sound::FakeDeviceThread> devices;
    devices.emplace(fake);
    struct Keying : engine::WorkerNotifier {
        std::atomic<int> keyed{0};
        void rsid_report(const char*) override {}
        void keying(bool on) override { keyed.store(on ? 1 : 0); }
    } notifier;
    engine.start_worker(notifier);
    engine.controls().rx_active = 0;
    engine.controls().tx_active = 1;
    EXPECT_TRUE(wait_for([&] { return notifier.keyed.load() == 1; }, 2s));
    rigctld.rigctl("F 7076000");
    EXPECT_TRUE(wait_for([&] { return engine.radio_readout().freq_hz == 7076000; }, 5s));
    EXPECT_EQ(rigctld.rigctl("t"), "0");
    engine.controls().tx_active = 0;
    engine.controls().rx_active = 1;
    EXPECT_TRUE(wait_for([&] { return notifier.keyed.load() == 0; }, 2s));
    EXPECT_TRUE(engine.stop_worker());
    devices.reset();
    // The serial lines did the keying (read once the worker is gone).
    const std::vector<std::string>& log = lines.log();
    EXPECT_NE(std::find(log.begin(), log.end(), "rts 1"), log.end());
    EXPECT_FALSE(lines.any_raised());
    EXPECT_TRUE(engine.radio_close());
    EXPECT_GT(proxy.commands(), 2);
    EXPECT_EQ(proxy.ptt_commands(), 0);
    std::lock_guard lock(mutex);
    EXPECT_TRUE(reports.empty()) << reports.front();
}

}  // namespace
