// Which received callsigns are shown: over a 25 dB channel the decoder completes garbage at
// the start of most overs (noise read as characters, the callsign's tail); none of it may be
// shown, and the true callsign must be shown soon.
#include "engine/callsign_rule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ready_station.h"
#include "sim/channel.h"
#include "sim/rng.h"

namespace {

using namespace tarpo;

struct Nothing : engine::ReceiveSink {
    void voice_block(const std::int16_t*) override {}
};

// What one over at 25 dB showed: the decoder's texts and the shown ones, block by block.
struct Over {
    std::vector<std::string> decoded;  // every text the decoder completed
    std::vector<std::string> shown;    // the shown text after every block ("" before one)
    int first_shown_block = -1;
};

// noise_blocks of noise alone, then the transmitter's signal (which had already sent
// `lead_frames` frames, so that reception starts inside the callsign) in the same noise.
Over receive_over(int noise_blocks, int lead_frames, bool enhanced, std::uint64_t seed) {
    auto tx = engine::make_station(engine::Voice::test_frames, 1500.0);
    auto rx = engine::make_station(engine::Voice::test_frames, 1500.0);
    rx->controls.enhanced_receiver = enhanced ? 1 : 0;
    rx->controls.sq_level = 7;  // the slider's middle
    char call[81] = "DL1AB";
    tx->station.callsign().set_text(call);
    std::array<std::int16_t, 1920> mic{};
    std::vector<std::array<std::int16_t, 1920>> signal(160);
    for (int f = 0; f < lead_frames; ++f) tx->passes.transmit_block(mic.data(), false);
    double power = 0.0;
    for (auto& block : signal) {
        const std::int16_t* out = tx->passes.transmit_block(mic.data(), false);
        std::copy(out, out + 1920, block.begin());
        for (const std::int16_t v : block) power += double(v) * v;
    }
    power /= 1920.0 * static_cast<double>(signal.size());
    sim::WhiteNoise noise(std::sqrt(sim::noise_power_for_snr(power, 25.0, 48000.0)),
                          sim::Rng(seed));

    Over over;
    Nothing sink;
    std::uint32_t decoded_count = 0;
    const int blocks = noise_blocks + static_cast<int>(signal.size());
    for (int b = 0; b < blocks; ++b) {
        std::array<std::int16_t, 1920> in{};
        for (std::size_t i = 0; i < in.size(); ++i) {
            const double s =
                b < noise_blocks ? 0.0 : signal[static_cast<std::size_t>(b - noise_blocks)][i];
            in[i] = static_cast<std::int16_t>(
                std::lround(std::clamp(s + noise.step(), -32768.0, 32767.0)));
        }
        rx->passes.receive_block(in.data(), sink);
        char text[81] = {};
        modem::CallsignChannel& decoder = rx->station.callsign();
        if (decoder.text_count() != decoded_count) {
            decoded_count = decoder.text_count();
            decoder.take_text(text);
            over.decoded.emplace_back(text);
        }
        std::memset(text, 0, sizeof text);
        rx->passes.callsign_rule().take_text(text);
        over.shown.emplace_back(text);
        if (over.first_shown_block < 0 && text[0] != '\0') over.first_shown_block = b;
    }
    return over;
}

TEST(CallsignRule, NoiseThenAnOverShowsOnlyTheTrueCallsign) {
    int garbage_overs = 0;
    int run = 0;
    for (const bool enhanced : {false, true}) {
        for (const int lead : {0, 3, 7, 12, 17}) {
            SCOPED_TRACE(testing::Message() << "enhanced " << enhanced << ", lead " << lead);
            const Over over =
                receive_over(30, lead, enhanced, 100 + static_cast<std::uint64_t>(run++));
            // Today's decoder: at least one text of these overs is not the callsign.
            if (std::any_of(over.decoded.begin(), over.decoded.end(),
                            [](const std::string& t) { return t != "DL1AB"; }))
                ++garbage_overs;
            for (const std::string& shown : over.shown)
                ASSERT_TRUE(shown.empty() || shown == "DL1AB") << "shown: " << shown;
            // Shown within about three callsign cycles of the signal's start.
            ASSERT_GE(over.first_shown_block, 30);
            EXPECT_LT(over.first_shown_block, 30 + 75);
        }
    }
    // The overs do show the fault the rule is there for.
    EXPECT_GE(garbage_overs, 5);
}

// The rule alone, on a decoder fed by hand: a text completed out of sync or with the squelch
// shut is not shown until it comes again; garbage never repeats, so it never shows.
TEST(CallsignRule, ARepeatedTextIsConfirmedAndABadOneIsNot) {
    modem::CallsignChannel sender;
    modem::CallsignChannel decoder;
    engine::CallsignRule rule;
    char text[81] = "F1XYZ";
    sender.set_text(text);
    sim::Rng rng(7);
    double phase = 0.0;
    auto feed = [&](int frames, bool squelch, bool sync) {
        for (int f = 0; f < frames; ++f) {
            // In sync the pilot keeps its phase at a frame's first symbol, reverses it at the
            // second; out of sync its phase is anything.
            for (int s = 0; s < 2; ++s) {
                phase = sync ? phase + (s == 1 ? 3.141592653589793 : 0.0) : 6.283 * rng.uniform();
                rule.symbol(std::polar(1.0, phase));
            }
            decoder.receive_dibit(sender.next_dibit());
            rule.frame(decoder, squelch);
        }
    };
    char got[81] = {};
    feed(200, false, true);  // squelch shut throughout: shown once repeated
    ASSERT_GT(rule.take_text(got), 0);
    EXPECT_STREQ(got, "F1XYZ");
    const std::uint32_t count = rule.text_count();
    feed(100, true, true);  // in sync, squelch open: every completion counts
    EXPECT_GT(rule.text_count(), count + 3);

    // Random dibits out of sync: texts complete, none is shown.
    engine::CallsignRule fresh;
    modem::CallsignChannel noisy;
    for (int f = 0; f < 3000; ++f) {
        fresh.symbol(std::polar(1.0, 6.283 * rng.uniform()));
        noisy.receive_dibit(static_cast<int>(rng.next() & 3));
        fresh.frame(noisy, true);
    }
    EXPECT_GT(noisy.text_count(), 10u);
    EXPECT_EQ(fresh.take_text(got), 0);
    EXPECT_FALSE(fresh.in_sync());
}

}  // namespace
