// The receive and transmit block passes that the worker and the tool share.
#include "engine/passes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/ready_station.h"
#include "voice/test_frame_pattern.h"

namespace {

using namespace tarpo;

// An RSID library that recognises a burst at 1700 Hz on its n-th check.
struct FakeRsid {
    static inline int checks = 0;
    static inline int detect_at = -1;
    static void init() { checks = 0; }
    static int check(const double*) { return ++checks == detect_at; }
    static double freq() { return 1700.0; }
    static void encode(double) {}
    static int get(short*) { return 0; }
    static engine::RsidApi api() { return {init, check, freq, encode, get}; }
};

struct Recorder : engine::ReceiveSink {
    std::vector<std::vector<std::int16_t>> blocks;
    int withheld = 0;
    int frames = 0;
    std::vector<std::string> rsid;
    double rx_step_at_report = 0;
    const modem::Station* station = nullptr;
    void voice_block(const std::int16_t* b) override { blocks.emplace_back(b, b + 1920); }
    void voice_withheld() override { ++withheld; }
    void frame_assembled(const modem::Station&) override { ++frames; }
    void rsid_detected(double, const char* text) override {
        rsid.emplace_back(text);
        rx_step_at_report = station->tuning().rx_step();
    }
};

struct Rig {
    voice::TestFrameCodec codec;
    std::unique_ptr<engine::ReadyStation> ready = make();
    engine::Controls& controls = ready->controls;
    engine::Monitor& monitor = ready->monitor;
    engine::Passes& passes = ready->passes;
    modem::Station* station = &ready->station;

    std::unique_ptr<engine::ReadyStation> make() {
        FakeRsid::detect_at = -1;
        return engine::make_station(codec, FakeRsid::api());
    }
};

// A block of test-frame modem signal from a separate transmitting station.
struct Source {
    std::unique_ptr<modem::Station> station = std::make_unique<modem::Station>();
    std::uint64_t n = 0;
    std::array<std::int16_t, 1920> next() {
        std::array<std::int16_t, 1920> block{};
        std::array<std::uint8_t, 64> bits{};
        voice::test_frame_bits(n++, bits.data());
        station->transmit_block(bits.data(), block.data());
        return block;
    }
};

TEST(Passes, TheSpectrumsGatheringSurvivesThePhaseChange) {
    Rig rig;
    Recorder sink;
    std::array<std::int16_t, 1920> block{};
    for (int i = 0; i < 2; ++i) rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(rig.monitor.display.front().spectrum_count, 0u);  // half of its 160 ms
    // A transmit pass writes its scope trace into entries 0..479 and leaves the count.
    std::array<std::int16_t, 1920> mic{};
    for (int i = 0; i < 1920; ++i) mic[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
    rig.passes.transmit_block(mic.data(), false);
    EXPECT_EQ(rig.monitor.display.front().spectrum_input[5], 20.0);  // microphone sample 4 x 5
    // Two more blocks complete the spectrum, published whole with the trace it covered.
    for (int i = 0; i < 2; ++i) rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(rig.monitor.display.front().spectrum_count, 1u);
    EXPECT_EQ(rig.monitor.display.front().spectrum_input[5], 20.0);
}

TEST(Passes, TransmitSilencesAFailedReadAndTracksThePeak) {
    Rig rig;
    std::array<std::int16_t, 1920> mic{};
    mic.fill(1000);
    rig.monitor.rx_peak.take(-1);
    rig.passes.transmit_block(mic.data(), false);
    EXPECT_EQ(rig.monitor.rx_peak.take(-1), 1000);
    rig.passes.transmit_block(mic.data(), true);
    for (std::int16_t v : mic) ASSERT_EQ(v, 0);  // overrun or empty loop read: silence
    // Analog: the microphone block itself goes out.
    mic.fill(77);
    rig.controls.analog_mode = 1;
    EXPECT_EQ(rig.passes.transmit_block(mic.data(), false), mic.data());
}

TEST(Passes, AnalogReceivePassesTheBlockAndRestsTheDemodulator) {
    Rig rig;
    Recorder sink;
    rig.controls.analog_mode = 1;
    rig.monitor.squelch_open = 1;
    rig.controls.request_frequency(1234.0);
    std::array<std::int16_t, 1920> block{};
    for (int i = 0; i < 1920; ++i)
        block[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i - 960);
    rig.monitor.rx_peak.take(-1);
    for (int i = 0; i < 4; ++i) rig.passes.receive_block(block.data(), sink);
    ASSERT_EQ(sink.blocks.size(), 4u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), sink.blocks[0].begin()));
    EXPECT_EQ(rig.monitor.squelch_open.load(), 1);         // left alone
    EXPECT_TRUE(rig.station->tuning().request_pending());  // waits for digital receive
    EXPECT_EQ(rig.station->tuning().frequency(), 1500.0);
    EXPECT_EQ(rig.monitor.display.front().spectrum_count, 1u);  // the spectrum still runs
    EXPECT_GT(rig.monitor.rx_peak.take(-1), 800);               // and the peak
    EXPECT_EQ(sink.frames, 0);
}

TEST(Passes, SquelchRulesAndDecodedFrames) {
    Rig rig;
    Source source;
    Recorder sink;
    for (int b = 0; b < 60; ++b) {
        auto block = source.next();
        rig.passes.receive_block(block.data(), sink);
    }
    // A clean signal: phase_error near 0.04, open at the default level 7.
    EXPECT_EQ(rig.monitor.squelch_open.load(), 1);
    EXPECT_GT(sink.blocks.size(), 50u);
    EXPECT_GE(sink.frames, 59);
    // Level 0 never opens; a quality figure below 0.02 (silence decaying) never opens.
    rig.controls.sq_level = 0;
    auto block = source.next();
    rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(rig.monitor.squelch_open.load(), 0);
    EXPECT_GT(sink.withheld, 0);
    rig.controls.sq_level = 15;
    std::array<std::int16_t, 1920> silence{};
    for (int b = 0; b < 100; ++b) rig.passes.receive_block(silence.data(), sink);
    EXPECT_LT(rig.monitor.phase_error.load(), 0.02);
    EXPECT_EQ(rig.monitor.squelch_open.load(), 0);
}

TEST(Passes, RsidRetunesBeforeTheSameBlockIsDemodulated) {
    Rig rig;
    Recorder sink;
    sink.station = rig.station;
    rig.controls.rxid_on = 1;
    FakeRsid::detect_at = 1;  // the first spectrum (fourth block) recognises a burst
    std::array<std::int16_t, 1920> silence{};
    for (int b = 0; b < 4; ++b) rig.passes.receive_block(silence.data(), sink);
    ASSERT_EQ(sink.rsid.size(), 1u);
    EXPECT_EQ(sink.rsid[0], "RSID 1700.0  TARPO");
    EXPECT_DOUBLE_EQ(sink.rx_step_at_report, 1700.0 / 12000 * 6.28318531);
    EXPECT_NEAR(rig.monitor.tuned_freq.load(), 1700.0, 0.05);  // AFC on silence moves little
    // With RXID off the library is not asked.
    rig.controls.rxid_on = 0;
    for (int b = 0; b < 8; ++b) rig.passes.receive_block(silence.data(), sink);
    EXPECT_EQ(FakeRsid::checks, 1);
}

TEST(Passes, TuningRequestIsServedAtTheFirstHalfBlockBoundary) {
    Rig rig;
    Recorder sink;
    rig.controls.request_frequency(1234.0);
    std::array<std::int16_t, 1920> silence{};
    rig.passes.receive_block(silence.data(), sink);
    EXPECT_FALSE(rig.station->tuning().request_pending());
    EXPECT_NEAR(rig.station->tuning().rx_step(), 1234.0 / 12000 * 6.28318531, 1e-4);
    EXPECT_NEAR(rig.monitor.tuned_freq.load(), 1234.0, 0.05);
    EXPECT_TRUE(std::isnan(rig.controls.take_frequency()));  // taken once
}

// The tuned frequency's owner: the latest request wins, the tracking's step takes a pending
// request before adding its correction, a burst overrides what waits, and Split pins the
// transmitter only once the steps are derived again.
TEST(Tuning, OrderOfRequests) {
    modem::Tuning t;
    t.tune(1500.0);
    t.request(1400.0);
    t.request(1300.0);
    EXPECT_EQ(t.frequency(), 1500.0);       // nothing moves before the boundary
    EXPECT_EQ(t.txid_frequency(), 1300.0);  // a burst would go out where the click asked
    t.track(0.25);
    EXPECT_EQ(t.frequency(), 1300.25);
    EXPECT_TRUE(t.request_pending());  // the boundary still re-derives
    t.apply_request();
    EXPECT_EQ(t.frequency(), 1300.25);
    EXPECT_DOUBLE_EQ(t.rx_step(), 1300.25 / 12000 * 6.28318531);

    t.request(1000.0);
    t.tune(1700.0);  // an identification burst retunes at once and drops the click
    t.apply_request();
    EXPECT_EQ(t.frequency(), 1700.0);
    t.track(-0.5);
    EXPECT_EQ(t.frequency(), 1699.5);

    t.set_split(true);
    EXPECT_DOUBLE_EQ(t.tx_step(), 1699.5 / 12000 * 6.28318531);
    EXPECT_EQ(t.txid_frequency(), 1500.0);
    t.apply_request();
    EXPECT_DOUBLE_EQ(t.tx_step(), 0.78539816375);
    EXPECT_DOUBLE_EQ(t.rx_step(), 1699.5 / 12000 * 6.28318531);
}

// Controls are taken once per block: a change made while a block is being demodulated (here
// from the sink, when a frame arrives) acts from the next block on, whole.
TEST(Passes, ControlsActFromTheNextBlock) {
    Rig rig;
    Source source;
    struct Closing : Recorder {
        engine::Controls* controls = nullptr;
        bool armed = false;
        void frame_assembled(const modem::Station&) override {
            if (armed) controls->sq_level = 0;  // closes the squelch, but not for this block
            armed = false;
        }
    } sink;
    sink.controls = &rig.controls;
    for (int b = 0; b < 40; ++b) {
        auto block = source.next();
        rig.passes.receive_block(block.data(), sink);
    }
    ASSERT_EQ(rig.monitor.squelch_open.load(), 1);
    const std::size_t played = sink.blocks.size();
    sink.armed = true;
    auto block = source.next();
    rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(sink.blocks.size(), played + 1);  // the frame of this block still plays
    EXPECT_EQ(sink.withheld, 0);
    block = source.next();
    rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(sink.blocks.size(), played + 1);
    EXPECT_EQ(sink.withheld, 1);
    rig.controls.analog_mode = 1;
    block = source.next();
    rig.passes.receive_block(block.data(), sink);
    ASSERT_EQ(sink.blocks.size(), played + 2);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), sink.blocks.back().begin()));
}

// The factory's stations talk to each other: test frames from one, through the block passes,
// counted error-free by the other after the receiver settles.
TEST(ReadyStation, RoundTripOfTestFrames) {
    auto tx = engine::make_station(engine::Voice::test_frames, 1600.0);
    auto rx = engine::make_station(engine::Voice::test_frames, 1600.0);
    struct Count : engine::ReceiveSink {
        voice::TestFrameChecker checker;
        void voice_block(const std::int16_t*) override {}
        void frame_assembled(const modem::Station& s) override {
            checker.check_frame(s.rx_voice_bits().data());
        }
    } count;
    char text[81] = "dl1abc";
    tx->station.callsign().set_text(text);
    std::array<std::int16_t, 1920> mic{};
    for (int b = 0; b < 200; ++b) {
        std::array<std::int16_t, 1920> block{};
        const std::int16_t* out = tx->passes.transmit_block(mic.data(), false);
        std::copy(out, out + 1920, block.begin());
        rx->passes.receive_block(block.data(), count);
    }
    EXPECT_TRUE(count.checker.aligned());
    EXPECT_GT(count.checker.frames_counted(), 150u);
    EXPECT_EQ(count.checker.bit_errors(), 0u);
    EXPECT_NEAR(rx->monitor.tuned_freq.load(), 1600.0, 0.5);
    char heard[80] = {};
    ASSERT_GT(rx->station.callsign().take_text(heard), 0);
    EXPECT_STREQ(heard, "DL1ABC");
}

// With the enhanced receiver the codec gets each frame's log-likelihood ratios, whose signs are
// the frame's bits; with the differential one, the hard bits as before.
TEST(Passes, TheEnhancedReceiverFeedsTheCodecSoftBits) {
    struct Watching : voice::SpeechCodec {
        voice::TestFrameChecker checker;
        int hard = 0, soft = 0;
        void ana_init() override {}
        void syn_init() override {}
        void encode(const short*, unsigned char*) override {}
        void decode(const unsigned char* bits, short*) override {
            ++hard;
            checker.check_frame(bits);
        }
        bool decode_soft(const float* llr, short*) override {
            ++soft;
            std::array<std::uint8_t, 54> bits{};
            for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = llr[i] > 0.0f;
            checker.check_frame(bits.data());
            return false;
        }
    };
    for (const bool enhanced : {false, true}) {
        Watching codec;
        auto rx = engine::make_station(codec, FakeRsid::api());
        rx->controls.enhanced_receiver = enhanced ? 1 : 0;
        Source source;
        Recorder sink;
        for (int b = 0; b < 80; ++b) {
            auto block = source.next();
            rx->passes.receive_block(block.data(), sink);
        }
        EXPECT_GT(enhanced ? codec.soft : codec.hard, 60);
        EXPECT_EQ(enhanced ? codec.hard : codec.soft, 0);
        EXPECT_GT(codec.checker.frames_counted(), 60u);
        EXPECT_EQ(codec.checker.bit_errors(), 0u);
    }
}

// A squelch that shuts in the middle of a reception: a codec that conceals noise still gets
// the next frames, their ratios believed less, for a bounded time, then nothing; the differential
// receiver, or a codec without concealment, keeps the squelch exact.
TEST(Passes, FramesWhileTheSquelchIsBrieflyShutGoToAConcealingDecoder) {
    struct Concealing : voice::SpeechCodec {
        bool conceals = true;
        int hard = 0, soft = 0;
        std::vector<float> magnitude;  // mean |ratio| per soft frame
        void ana_init() override {}
        void syn_init() override {}
        void encode(const short*, unsigned char*) override {}
        void decode(const unsigned char*, short*) override { ++hard; }
        bool decode_soft(const float* llr, short*) override {
            ++soft;
            float m = 0.0f;
            for (int i = 0; i < 54; ++i) m += std::abs(llr[i]) / 54.0f;
            magnitude.push_back(m);
            return false;
        }
        bool conceals_noise() const override { return conceals; }
    };
    for (const int kind : {0, 1, 2}) {  // enhanced + concealing; differential; enhanced + plain
        Concealing codec;
        codec.conceals = kind != 2;
        auto rx = engine::make_station(codec, FakeRsid::api());
        rx->controls.enhanced_receiver = kind == 1 ? 0 : 1;
        Source source;
        Recorder sink;
        for (int b = 0; b < 60; ++b) rx->passes.receive_block(source.next().data(), sink);
        ASSERT_EQ(rx->monitor.squelch_open.load(), 1);
        const std::size_t open_blocks = sink.blocks.size();
        const int open_soft = codec.soft;
        rx->controls.sq_level = 0;  // shut from here on
        for (int b = 0; b < 40; ++b) rx->passes.receive_block(source.next().data(), sink);
        const int bridged = kind == 0 ? engine::Passes::bridge_frames : 0;
        EXPECT_EQ(sink.blocks.size(), open_blocks + static_cast<std::size_t>(bridged));
        EXPECT_EQ(codec.soft - open_soft, bridged);
        EXPECT_GE(sink.withheld, 40 - bridged - 2);
        if (kind == 0) {
            const float before = codec.magnitude[static_cast<std::size_t>(open_soft) - 1];
            const float after = codec.magnitude.back();
            EXPECT_NEAR(after / before, engine::Passes::bridge_trust, 0.15);
        }
        // Open again, shut again: a new bridge.
        rx->controls.sq_level = 7;
        for (int b = 0; b < 5; ++b) rx->passes.receive_block(source.next().data(), sink);
        rx->controls.sq_level = 0;
        const std::size_t reopened = sink.blocks.size();
        for (int b = 0; b < 20; ++b) rx->passes.receive_block(source.next().data(), sink);
        EXPECT_EQ(sink.blocks.size(), reopened + static_cast<std::size_t>(bridged));
    }
}

}  // namespace
