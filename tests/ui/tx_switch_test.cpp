// The transmit switch without a window, against the recording fake with a scripted voice
// keyer: keying order and the tail, refusal without a callsign, the time-out (which ends a file
// too), Tune's limit, and transmit.txt.
#include "engine/tx_switch.h"

#include <gtest/gtest.h>

#include "fake_engine.h"

namespace tarpo::ui {
namespace {

using engine::TxSwitch;

// The keyer says what its script says at each tick and counts the stops.
struct KeyerEngine : testing::FakeEngine {
    std::vector<int> script;  // actions of the coming ticks (0 none, 1 key, 2 unkey)
    int stops = 0;
    bool busy = false;
    bool keyer_start(const std::string& path, std::string&) override {
        record("keyer_start " + path);
        busy = true;
        return true;
    }
    int keyer_tick(bool) override {
        if (script.empty()) return 0;
        const int a = script.front();
        script.erase(script.begin());
        return a;
    }
    void keyer_stop() override { ++stops; }
    bool keyer_busy() override { return busy; }
};

struct Switch : ::testing::Test {
    KeyerEngine engine;
    std::string callsign = "DL1ABC";
    TxSwitch tx{engine, [this] { return callsign; }};
    engine::Controls& c = engine.state;

    void steps(int n) {
        for (int i = 0; i < n; ++i) tx.step();
    }
    bool receiving() const { return c.rx_active == 1 && c.tx_active == 0; }
    bool sending() const { return c.rx_active == 0 && c.tx_active == 1; }
};

TEST_F(Switch, KeysAtOnceAndEndsAfterTheTail) {
    c.display_mode = engine::display_spectrum;
    tx.press();
    EXPECT_TRUE(sending());
    EXPECT_TRUE(tx.transmitting());
    EXPECT_EQ(c.display_mode, engine::display_scope);
    steps(10);
    EXPECT_TRUE(sending());

    tx.press();  // the tail: four ticks more on air, shown as not transmitting
    EXPECT_FALSE(tx.transmitting());
    steps(3);
    EXPECT_TRUE(sending());
    tx.press();  // refused while ending
    tx.escape();
    tx.tune();
    EXPECT_EQ(tx.countdown(), 1);
    steps(1);
    EXPECT_TRUE(receiving());
    EXPECT_EQ(c.display_mode, engine::display_spectrum);
    EXPECT_TRUE(engine.called("cancel_acquisition"));
    tx.press();  // still refused on the tick that switched back
    EXPECT_TRUE(receiving());
    steps(1);
    tx.press();
    EXPECT_TRUE(sending());
    EXPECT_EQ(tx.take_message(), "");
}

TEST_F(Switch, EscapeEndsOnlyWhatIsOn) {
    tx.escape();  // receiving: nothing to end, nothing keyed
    EXPECT_TRUE(receiving());
    tx.press();
    tx.escape();
    EXPECT_EQ(tx.countdown(), TxSwitch::tail_ticks);
    steps(TxSwitch::tail_ticks);
    EXPECT_TRUE(receiving());
}

TEST_F(Switch, RefusedWithoutACallsignButTuneIsAllowed) {
    for (const char* none : {"NOCALL", "", " nocall ", "\n"}) {
        callsign = none;
        tx.press();
        EXPECT_TRUE(receiving()) << '"' << none << '"';
        EXPECT_NE(tx.take_message().find("Settings > Callsign"), std::string::npos);
        std::string error;
        EXPECT_FALSE(tx.start_file("speech.wav", error));
        EXPECT_NE(error.find("callsign"), std::string::npos);
        EXPECT_FALSE(engine.called("keyer_start speech.wav"));
        steps(2);
        EXPECT_TRUE(receiving());
    }
    // Tune sends no callsign: it keys, for at most ten seconds even with no time-out.
    tx.set_timeout_s(0);
    tx.tune();
    EXPECT_TRUE(sending());
    EXPECT_EQ(c.tune, 1);
    EXPECT_TRUE(tx.tuning());
    EXPECT_FALSE(tx.transmitting());
    steps(TxSwitch::tune_limit_ticks - 1);
    EXPECT_TRUE(tx.tuning());
    steps(1);
    EXPECT_FALSE(tx.tuning());
    steps(TxSwitch::tail_ticks);
    EXPECT_TRUE(receiving());
    EXPECT_EQ(c.tune, 0);
    EXPECT_LE(TxSwitch::tune_limit_ticks * TxSwitch::tick_ms, 10000);
}

TEST_F(Switch, TuneEndsOnTuneOrEscape) {
    tx.press();
    tx.tune();  // a transmission of speech is no tune to end
    EXPECT_TRUE(tx.transmitting());
    tx.press();
    steps(TxSwitch::tail_ticks + 1);
    tx.tune();
    tx.tune();
    steps(TxSwitch::tail_ticks);
    EXPECT_TRUE(receiving());
    tx.tune();
    tx.escape();
    steps(TxSwitch::tail_ticks);
    EXPECT_TRUE(receiving());
    EXPECT_EQ(c.tune, 0);
}

TEST_F(Switch, TimeOutUnkeysThroughTheTailAndSaysWhy) {
    tx.set_timeout_s(3);  // 20 ticks of 150 ms
    tx.press();
    steps(19);
    EXPECT_TRUE(tx.transmitting());
    steps(1);
    EXPECT_FALSE(tx.transmitting());
    EXPECT_TRUE(sending());  // the tail still runs
    const std::string why = tx.take_message();
    EXPECT_NE(why.find("time-out"), std::string::npos);
    EXPECT_EQ(tx.take_message(), "");  // said once
    steps(TxSwitch::tail_ticks);
    EXPECT_TRUE(receiving());
    // The next transmission counts from its own start.
    steps(100);
    tx.press();
    steps(19);
    EXPECT_TRUE(tx.transmitting());

    // Off: a transmission of an hour stays on.
    KeyerEngine other;
    TxSwitch off(other, [] { return std::string("DL1ABC"); });
    off.set_timeout_s(0);
    off.press();
    for (int i = 0; i < 24000; ++i) off.step();
    EXPECT_TRUE(off.transmitting());
}

TEST_F(Switch, VoiceKeyerKeysAndUnkeysAndTheTimeOutEndsItsFile) {
    std::string error;
    engine.script = {1, 0, 0, 2};
    ASSERT_TRUE(tx.start_file("speech.wav", error)) << error;
    EXPECT_TRUE(engine.called("keyer_start speech.wav"));
    EXPECT_TRUE(sending());                           // keyed at once
    EXPECT_FALSE(tx.start_file("other.wav", error));  // under way
    steps(3);                                         // the third tick says the file has gone out
    EXPECT_EQ(tx.countdown(), TxSwitch::tail_ticks);
    steps(TxSwitch::tail_ticks + 1);
    EXPECT_TRUE(receiving());

    const int stops = engine.stops;
    tx.set_timeout_s(1);  // 7 ticks
    engine.script = {1};
    ASSERT_TRUE(tx.start_file("long.wav", error));
    steps(7);
    EXPECT_GT(engine.stops, stops);  // the rest of the file is not sent
    EXPECT_FALSE(tx.transmitting());

    // A key from the keyer during a tail is refused and stops it.
    steps(TxSwitch::tail_ticks + 1);
    tx.press();
    tx.press();
    const int before = engine.stops;
    engine.script = {1};
    steps(1);
    EXPECT_EQ(engine.stops, before + 1);
}

TEST(TransmitSettings, ReadHostileAndRoundTrip) {
    std::vector<std::string> notes;
    EXPECT_EQ(engine::read_transmit_settings("", &notes).timeout_s, 180);
    EXPECT_EQ(engine::read_transmit_settings("", &notes).drive_db, 0);
    const auto off = engine::read_transmit_settings("timeout off\ndrive -12\n", &notes);
    EXPECT_EQ(off.timeout_s, 0);
    EXPECT_EQ(off.drive_db, -12);
    EXPECT_TRUE(notes.empty());
    const auto back = engine::read_transmit_settings(engine::format_transmit_settings(off), &notes);
    EXPECT_EQ(back.timeout_s, 0);
    EXPECT_EQ(back.drive_db, -12);
    for (const char* bad :
         {"timeout 0", "timeout -5", "timeout 99999999999", "timeout 3 4", "drive 5", "drive -31",
          "drive x", "drive", "timeout 1e3", "colour 3", "timeout \xff\x01"}) {
        notes.clear();
        const auto s = engine::read_transmit_settings(bad, &notes);
        EXPECT_EQ(s.timeout_s, 180) << bad;
        EXPECT_EQ(s.drive_db, 0) << bad;
        EXPECT_EQ(notes.size(), 1u) << bad;
    }
}

}  // namespace
}  // namespace tarpo::ui
