// The receive and transmit block passes that the worker and the tool share.
#include "engine/passes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "voice/test_frames.h"

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
    static audio::RsidApi api() { return {init, check, freq, encode, get}; }
};

struct Recorder : audio::ReceiveSink {
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
    std::unique_ptr<SharedState> shared = std::make_unique<SharedState>();
    std::unique_ptr<modem::Station> station = std::make_unique<modem::Station>(*shared);
    modem::TestFrameCodec codec;
    voice::CodecAdapter adapter{codec};
    modem::SpectrumAnalyser spectrum;
    audio::Passes passes{*shared, *station, adapter, spectrum, FakeRsid::api()};
    Rig() {
        FakeRsid::init();
        FakeRsid::detect_at = -1;
        adapter.codec_init();
        spectrum.spectrum_init();
        station->modem_init();
    }
};

// A block of test-frame modem signal from a separate transmitting station.
struct Source {
    std::unique_ptr<SharedState> shared = std::make_unique<SharedState>();
    std::unique_ptr<modem::Station> station = std::make_unique<modem::Station>(*shared);
    std::uint64_t n = 0;
    Source() { station->modem_init(); }
    std::array<std::int16_t, 1920> next() {
        std::array<std::int16_t, 1920> block{};
        std::array<std::uint8_t, 64> bits{};
        modem::test_frame_bits(n++, bits.data());
        station->transmit_block(bits.data(), block.data());
        return block;
    }
};

TEST(Passes, FillCountSurvivesThePhaseChange) {
    Rig rig;
    Recorder sink;
    std::array<std::int16_t, 1920> block{};
    for (int i = 0; i < 2; ++i) rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(rig.passes.fill_count(), 480);
    EXPECT_EQ(rig.shared->spectrum_ready.load(), 0);
    // A transmit pass writes its scope trace into entries 0..479 and leaves the count.
    std::array<std::int16_t, 1920> mic{};
    for (int i = 0; i < 1920; ++i) mic[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
    rig.passes.transmit_block(mic.data(), false);
    EXPECT_EQ(rig.passes.fill_count(), 480);
    EXPECT_EQ(rig.shared->spectrum_input[5].load(), 20.0);  // microphone sample 4 x 5
    for (int i = 0; i < 2; ++i) rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(rig.shared->spectrum_ready.load(), 1);
    EXPECT_EQ(rig.passes.fill_count(), 0);
    EXPECT_EQ(rig.shared->spectrum_input[5].load(), 20.0);  // the spectrum covered the trace
}

TEST(Passes, TransmitSilencesAFailedReadAndTracksThePeak) {
    Rig rig;
    std::array<std::int16_t, 1920> mic{};
    mic.fill(1000);
    rig.shared->peak_level = -1;
    rig.passes.transmit_block(mic.data(), false);
    EXPECT_EQ(rig.shared->peak_level.load(), 1000);
    rig.passes.transmit_block(mic.data(), true);
    for (std::int16_t v : mic) ASSERT_EQ(v, 0);  // overrun or empty loop read: silence
    // Analog: the microphone block itself goes out.
    mic.fill(77);
    rig.shared->analog_mode = 1;
    EXPECT_EQ(rig.passes.transmit_block(mic.data(), false), mic.data());
}

TEST(Passes, AnalogReceivePassesTheBlockAndRestsTheDemodulator) {
    Rig rig;
    Recorder sink;
    rig.shared->analog_mode = 1;
    rig.shared->squelch_open = 1;
    rig.shared->retune_request = 1;
    std::array<std::int16_t, 1920> block{};
    for (int i = 0; i < 1920; ++i) block[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i - 960);
    rig.shared->peak_level = -1;
    for (int i = 0; i < 4; ++i) rig.passes.receive_block(block.data(), sink);
    ASSERT_EQ(sink.blocks.size(), 4u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), sink.blocks[0].begin()));
    EXPECT_EQ(rig.shared->squelch_open.load(), 1);   // left alone
    EXPECT_EQ(rig.shared->retune_request.load(), 1); // waits for digital receive
    EXPECT_EQ(rig.shared->spectrum_ready.load(), 1); // the spectrum still runs
    EXPECT_GT(rig.shared->peak_level.load(), 800);   // and the peak
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
    EXPECT_EQ(rig.shared->squelch_open.load(), 1);
    EXPECT_GT(sink.blocks.size(), 50u);
    EXPECT_GE(sink.frames, 59);
    // Level 0 never opens; a quality figure below 0.02 (silence decaying) never opens.
    rig.shared->sq_level = 0;
    auto block = source.next();
    rig.passes.receive_block(block.data(), sink);
    EXPECT_EQ(rig.shared->squelch_open.load(), 0);
    EXPECT_GT(sink.withheld, 0);
    rig.shared->sq_level = 15;
    std::array<std::int16_t, 1920> silence{};
    for (int b = 0; b < 100; ++b) rig.passes.receive_block(silence.data(), sink);
    EXPECT_LT(rig.shared->phase_error.load(), 0.02);
    EXPECT_EQ(rig.shared->squelch_open.load(), 0);
}

TEST(Passes, RsidRetunesBeforeTheSameBlockIsDemodulated) {
    Rig rig;
    Recorder sink;
    sink.station = rig.station.get();
    rig.shared->rxid_on = 1;
    FakeRsid::detect_at = 1;  // the first spectrum (fourth block) recognises a burst
    std::array<std::int16_t, 1920> silence{};
    for (int b = 0; b < 4; ++b) rig.passes.receive_block(silence.data(), sink);
    ASSERT_EQ(sink.rsid.size(), 1u);
    EXPECT_EQ(sink.rsid[0], "RSID 1700.0  TARPO");
    EXPECT_DOUBLE_EQ(sink.rx_step_at_report, 1700.0 / 12000 * 6.28318531);
    EXPECT_NEAR(rig.shared->tuned_freq.load(), 1700.0, 0.05);  // AFC on silence moves little
    // With RXID off the library is not asked.
    rig.shared->rxid_on = 0;
    for (int b = 0; b < 8; ++b) rig.passes.receive_block(silence.data(), sink);
    EXPECT_EQ(FakeRsid::checks, 1);
}

TEST(Passes, RetuneRequestIsServedAfterAHalfBlock) {
    Rig rig;
    Recorder sink;
    rig.shared->tuned_freq = 1234.0;
    rig.shared->retune_request = 1;
    std::array<std::int16_t, 1920> silence{};
    rig.passes.receive_block(silence.data(), sink);
    EXPECT_EQ(rig.shared->retune_request.load(), 0);
    EXPECT_NEAR(rig.station->tuning().rx_step(), 1234.0 / 12000 * 6.28318531, 1e-4);
}

}  // namespace
