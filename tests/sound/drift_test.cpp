// Two sound cards whose clocks differ by up to 1000 ppm (one 500 ppm fast, the other 500 ppm
// slow), over a simulated hour on the fake's clock, in both of the worker's patterns: the
// receive phase (paced by the input, the voice output keeping up) and the transmit phase
// (paced by the output, the microphone keeping up). The non-blocking queue must neither creep
// up (delay growth) nor run dry (underruns), and what crosses it must stay free of jumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "sound/sound_interface.h"
#include "tests/support/sound_fake.h"

namespace tarpo::sound {
namespace {

constexpr int n = 1920;
constexpr int rate = 48000;
constexpr int hour_blocks = 3600 * rate / n;  // 90000
constexpr int settle_blocks = 250;            // 10 s: start-up and the first trims
constexpr double amplitude = 8000.0;
constexpr int tone_period = 128;  // samples: 375 Hz
constexpr double tone_hz = static_cast<double>(rate) / tone_period;

class Quiet : public SoundDiagnostics {
  public:
    void print(const char*) override {}
};

// The largest step between neighbouring samples of the tone, with room for rounding and for
// the interpolation at a trimmed block's ends: a dropped or repeated block, or a sample
// lost at a seam, is a jump many times this.
const double tone_step = amplitude * 2.0 * M_PI * tone_hz / rate + 4.0;

struct HourRun {
    std::int64_t fill_min = 1 << 30;  // samples queued on the trimmed side, after settling
    std::int64_t fill_max = 0;
    std::int64_t silent_after_settle = 0;
    std::int64_t lost = 0;
    int undelivered_after_settle = 0;
    int underruns = 0;
    double largest_step = 0.0;
};

// pace_input: the receive pattern; otherwise the transmit pattern.
HourRun run_hour(bool pace_input, double in_ppm, double out_ppm) {
    FakeSoundBackend fake;
    LoopLibrary loop;
    loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
    Quiet quiet;
    fake.keep_played(false);
    fake.set_ppm(Direction::input, in_ppm);
    fake.set_ppm(Direction::output, out_ppm);
    std::array<std::int16_t, tone_period> tone{};
    for (int i = 0; i < tone_period; ++i) {
        tone[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * M_PI * i / tone_period)));
    }
    fake.set_source([&tone](std::int64_t k, std::int16_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = tone[static_cast<std::size_t>(k + static_cast<std::int64_t>(i)) % tone_period];
        }
    });
    HourRun run;
    bool playing = false;
    std::int16_t last = 0;
    fake.set_sink([&](const std::int16_t* s, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (playing)
                run.largest_step = std::max(run.largest_step, std::abs(double(s[i]) - last));
            playing = playing || s[i] != 0;
            last = s[i];
        }
    });
    SoundInterface sound(fake, loop, quiet);
    sound.init(rate);
    sound.select_input(0, pace_input);
    sound.select_output(0, !pace_input);
    std::vector<std::int16_t> block(n, 0);
    std::int64_t silent_at_settle = 0;
    for (int b = 0; b < hour_blocks; ++b) {
        if (b == settle_blocks) silent_at_settle = fake.silent_played();
        // The worker's transmit order: room for the block first, then the freshest input.
        if (!pace_input) sound.wait_output();
        const bool delivered = sound.read_block(block.data()) != SoundInterface::Read::nothing;
        const std::int64_t backlog = sound.input_backlog();
        sound.write_block(block.data());
        if (b < settle_blocks) continue;
        run.undelivered_after_settle += delivered ? 0 : 1;
        const std::int64_t fill = pace_input ? sound.output_fill() : backlog;
        run.fill_min = std::min(run.fill_min, fill);
        run.fill_max = std::max(run.fill_max, fill);
    }
    run.silent_after_settle = fake.silent_played() - silent_at_settle;
    run.lost = fake.lost();
    run.underruns = sound.output_underruns();
    return run;
}

TEST(Drift, AnHourOfCardsFiveHundredPpmApartKeepsEveryQueueInItsWindow) {
    for (const bool pace_input : {true, false}) {
        for (const double ppm : {500.0, -500.0}) {
            SCOPED_TRACE(testing::Message()
                         << (pace_input ? "receive" : "transmit") << " pattern, input " << ppm
                         << " ppm, output " << -ppm << " ppm");
            const HourRun run = run_hour(pace_input, ppm, -ppm);
            // Uncorrected, 1000 ppm apart is 3.6 s gained or lost in the hour.
            EXPECT_EQ(run.silent_after_settle, 0);
            EXPECT_EQ(run.underruns, 0);
            EXPECT_EQ(run.lost, 0);
            EXPECT_EQ(run.undelivered_after_settle, 0);
            EXPECT_LE(run.largest_step, tone_step);
            // The queue's fill, around its target: the window of the trim (a sixteenth of a
            // block, smoothed), one 480-sample callback of the card that moves in steps, and
            // the same again for the side the drift pushes it to.
            const std::int64_t slack = n / 4 + 480;
            // Receive: measured right after a write, the block on top of its cushion;
            // transmit: right after a read, the microphone's cushion.
            const auto target =
                static_cast<std::int64_t>((pace_input ? 1 + voice_cushion : mic_cushion) * n);
            EXPECT_GE(run.fill_min, target - slack);
            EXPECT_LE(run.fill_max, target + slack);
            std::printf("%s in %+.0f ppm: queue %lld..%lld samples, largest step %.0f\n",
                        pace_input ? "receive " : "transmit", ppm,
                        static_cast<long long>(run.fill_min), static_cast<long long>(run.fill_max),
                        run.largest_step);
        }
    }
}

}  // namespace
}  // namespace tarpo::sound
