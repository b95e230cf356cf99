// The status line's message queue (repeats, overflow, posting threads against the taking one)
// the engine's layers posting to it, and the rx level watch on synthetic meter readings.
#include "engine/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/level_watch.h"
#include "tests/support/serial_fake.h"
#include "tests/support/sound_fake.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using tarpo::engine::LevelWatch;
using tarpo::engine::MessageQueue;

std::vector<std::string> take_all(MessageQueue& q) {
    std::vector<std::string> out;
    std::string text;
    while (q.take(text)) out.push_back(text);
    return out;
}

TEST(MessageQueue, RepeatsWhileFreshAreDroppedAndSaidAgainAfterAQuietGap) {
    MessageQueue q(10s);
    const auto t0 = MessageQueue::Clock::time_point{} + 1h;
    EXPECT_TRUE(q.post_at("rig stopped answering\n", t0, false));
    // The same fault every block for a minute: still one message.
    for (int i = 1; i <= 600; ++i)
        EXPECT_FALSE(q.post_at("rig stopped answering", t0 + i * 100ms, false));
    EXPECT_TRUE(q.post_at("sound device failed", t0 + 60s, false));
    EXPECT_FALSE(q.post_at("", t0 + 60s, false));
    EXPECT_FALSE(q.post_at(" \n", t0 + 60s, false));
    // Quiet for longer than the gap: the next occurrence is a new message.
    EXPECT_TRUE(q.post_at("rig stopped answering", t0 + 71s, false));
    EXPECT_EQ(take_all(q), (std::vector<std::string>{"rig stopped answering", "sound device failed",
                                                     "rig stopped answering"}));
    EXPECT_TRUE(take_all(q).empty());
}

TEST(MessageQueue, FullQueueKeepsTheNewestAndLongTextsAreCut) {
    MessageQueue q(10s);
    const auto t0 = MessageQueue::Clock::time_point{} + 1h;
    const std::size_t n = MessageQueue::capacity + 3;
    for (std::size_t i = 0; i < n; ++i) q.post_at("message " + std::to_string(i), t0, false);
    const std::vector<std::string> kept = take_all(q);
    ASSERT_EQ(kept.size(), MessageQueue::capacity);
    EXPECT_EQ(kept.front(), "message 3");
    EXPECT_EQ(kept.back(), "message " + std::to_string(n - 1));
    EXPECT_EQ(q.overflowed(), 3u);
    q.post_at(std::string(5000, 'x'), t0, false);
    const std::vector<std::string> cut = take_all(q);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0], std::string(MessageQueue::text_size, 'x'));
}

TEST(MessageQueue, PostingThreadsAndTheTakingOneNeverMixTexts) {
    MessageQueue q(1h);
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t)
        posters.emplace_back([&q, t] {
            for (int i = 0; i < 2000; ++i)
                q.post("thread " + std::to_string(t) + " fault " + std::to_string(i % 50), false);
        });
    std::set<std::string> seen;
    std::string text;
    for (int i = 0; i < 20000; ++i)
        if (q.take(text)) seen.insert(text);
    for (std::thread& p : posters) p.join();
    while (q.take(text)) seen.insert(text);
    for (const std::string& s : seen) EXPECT_EQ(s.rfind("thread ", 0), 0u) << s;
    // Every text is new once (the repeat table remembers fewer than 150, so some come again),
    // and nothing is made up.
    EXPECT_LE(seen.size(), 150u);
    EXPECT_GE(seen.size(), 8u);
}

// What the engine's layers say reaches the queue once: a PTT port that will not open, and the
// sound layer's failure text (said on standard output as before).
TEST(EngineMessages, PortAndSoundFailuresArePostedOnce) {
    tarpo::test::TempDir temp;
    temp.write("dev/serial/by-id/usb-rig-if00");
    tarpo::ptt::FakeSerialLines lines;  // knows no port: every open fails
    tarpo::sound::FakeSoundBackend fake{48000, tarpo::sound::FakeSoundBackend::Clock::external};
    tarpo::engine::Engine engine(
        fake, lines, {},
        tarpo::ptt::SerialPortDirs{temp.path("dev").string(), temp.path("sys").string()});
    engine.ptt_port_open('1');
    engine.ptt_port_open('1');
    engine.ptt_port_open('0');  // none: nothing to say
    engine.ptt_port_open('5');  // a number without a device
    std::string text;
    ASSERT_TRUE(engine.take_message(text));
    EXPECT_NE(text.find("cannot open Com 1"), std::string::npos) << text;
    EXPECT_NE(text.find("usb-rig-if00"), std::string::npos) << text;
    ASSERT_TRUE(engine.take_message(text));
    EXPECT_NE(text.find("Com 5 is not on this machine"), std::string::npos) << text;
    EXPECT_FALSE(engine.take_message(text));

    tarpo::sound::SoundDiagnostics& said = engine.sound_diagnostics();
    said.print("Sound Interface Start, waveInOpen() failed.");
    ASSERT_TRUE(engine.take_message(text));
    EXPECT_EQ(text, "Sound Interface Start, waveInOpen() failed.");
}

// Meter readings every 0.75 s, as the main window takes them.
LevelWatch::Change feed_for(LevelWatch& w, int peak, double seconds, bool receiving = true) {
    LevelWatch::Change last = LevelWatch::Change::none;
    for (double t = 0; t < seconds - 1e-9; t += 0.75) {
        const LevelWatch::Change c = w.feed(peak, 0.75, receiving);
        if (c != LevelWatch::Change::none) last = c;
    }
    return last;
}

TEST(LevelWatch, ClippingAndSilenceAreSaidOnceEachAndEnd) {
    LevelWatch w;
    EXPECT_EQ(feed_for(w, 12000, 30), LevelWatch::Change::none);     // a good level: nothing
    EXPECT_EQ(w.feed(32767, 0.75, true), LevelWatch::Change::none);  // one loud word is no clip
    EXPECT_EQ(w.feed(12000, 0.75, true), LevelWatch::Change::none);
    EXPECT_EQ(feed_for(w, 32767, 1.5), LevelWatch::Change::started);
    EXPECT_EQ(w.state(), LevelWatch::State::clipping);
    EXPECT_EQ(feed_for(w, 32700, 20), LevelWatch::Change::none);   // still clipping: said once
    EXPECT_EQ(feed_for(w, 15000, 4.5), LevelWatch::Change::none);  // not yet over
    EXPECT_EQ(feed_for(w, 15000, 0.75), LevelWatch::Change::ended);
    EXPECT_EQ(w.state(), LevelWatch::State::fine);

    // -50 dBFS is 104 of 32767: below it for five seconds is a silent input.
    EXPECT_EQ(feed_for(w, 100, 4.5), LevelWatch::Change::none);
    EXPECT_EQ(feed_for(w, 100, 0.75), LevelWatch::Change::started);
    EXPECT_EQ(w.state(), LevelWatch::State::silent);
    EXPECT_EQ(feed_for(w, 0, 60), LevelWatch::Change::none);
    EXPECT_EQ(feed_for(w, 2000, 6), LevelWatch::Change::ended);
}

TEST(LevelWatch, TransmittingAndMissingReadingsAreNoSilence) {
    LevelWatch w;
    EXPECT_EQ(feed_for(w, 0, 60, false), LevelWatch::Change::none);  // the mic is not the rx
    EXPECT_EQ(feed_for(w, -1, 60), LevelWatch::Change::none);        // no reading at all
    EXPECT_EQ(feed_for(w, 0, 6), LevelWatch::Change::started);
    // A transmission ends the warning; receiving again starts from nothing.
    EXPECT_EQ(w.feed(0, 0.75, false), LevelWatch::Change::ended);
    EXPECT_EQ(feed_for(w, 0, 4.5), LevelWatch::Change::none);
}

}  // namespace
