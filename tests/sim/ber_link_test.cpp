// The in-memory link of the bit-error-rate benchmark: its double-input decimator against the
// receiver's own, the frame counting on received frame lists built by hand (delays, slips,
// repeats, errors), the whole link on a clean signal, and the genie split of the decisions'
// input.
#include "bench/sim/ber_link.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bench/sim/ber_theory.h"
#include "dsp/rate_convert.h"
#include "sim/channel.h"
#include "sim/rng.h"
#include "voice/test_frame_pattern.h"

namespace tarpo::bench {
namespace {

FrameBits54 sent(std::uint64_t t) {
    FrameBits54 f{};
    voice::test_frame_bits(t, f.data());
    return f;
}

TEST(BerLink, DoubleDecimatorIsTheReceiversOnWholeSamples) {
    // On 16-bit input the two must agree to the last bit, across many calls (the line wraps
    // every 30 samples) and at the extreme values.
    dsp::Decimator4 reference;
    DoubleDecimator4 decimator;
    sim::Rng rng(11);
    std::array<std::int16_t, 4> four16{};
    std::array<double, 4> four{};
    for (int n = 0; n < 5000; ++n) {
        for (std::size_t k = 0; k < 4; ++k) {
            const auto r = static_cast<std::int32_t>(rng.next() >> 48) - 32768;
            four16[k] = n % 97 == 0 ? (k % 2 ? 32767 : -32768) : static_cast<std::int16_t>(r);
            four[k] = four16[k];
        }
        ASSERT_EQ(decimator.decimate4(four.data()), reference.decimate4(four16.data())) << n;
    }
}

// A received frame list: `junk` garbage frames first, then transmitted frames from 0 on.
std::vector<FrameBits54> stream(int junk, std::uint64_t frames) {
    std::vector<FrameBits54> r(static_cast<std::size_t>(junk));
    for (auto& f : r)
        for (std::size_t j = 0; j < f.size(); ++j) f[j] = static_cast<std::uint8_t>(j % 3 == 0);
    for (std::uint64_t t = 0; t < frames; ++t) r.push_back(sent(t));
    return r;
}

TEST(BerLink, CountsAFaultlessStreamWhateverItsDelay) {
    const FrameWindow w{50, 200};
    for (int junk : {0, 4, 17}) {
        const ReceiveCounts c = count_frames(stream(junk, 210), w);
        EXPECT_EQ(c.delay, junk);
        EXPECT_EQ(c.frames_counted, 150u);
        EXPECT_EQ(c.bit_errors, 0u);
        EXPECT_EQ(c.tracked_frames, 150u);
        EXPECT_EQ(c.tracked_errors, 0u);
        EXPECT_EQ(c.frames_delivered, 150u);
        EXPECT_EQ(c.frames_lost(), 0u);
        EXPECT_EQ(c.realignments, 0u);
    }
}

TEST(BerLink, CountsErrorsSlipsAndRepeats) {
    std::vector<FrameBits54> r = stream(3, 400);
    const std::size_t d = 3;
    // Transmitted frame 100: 5 wrong bits; 101: 40 wrong bits (lost, but compared).
    for (std::size_t j = 0; j < 5; ++j) r[d + 100][j] ^= 1;
    for (std::size_t j = 0; j < 40; ++j) r[d + 101][j] ^= 1;
    // The receiver drops frame 200 (a slip), and later repeats frame 300.
    r.erase(r.begin() + static_cast<std::ptrdiff_t>(d + 200));
    r.insert(r.begin() + static_cast<std::ptrdiff_t>(d + 300 - 1), r[d + 300 - 1]);
    const FrameWindow w{50, 390};
    const ReceiveCounts c = count_frames(r, w);
    EXPECT_EQ(c.delay, 3);
    // Lost: 100 and 101 (wrong bits) and 200 (dropped); the repeat costs nothing.
    EXPECT_EQ(c.frames_in_window, 340u);
    EXPECT_EQ(c.frames_delivered, 337u);
    // The genie follows each slip at once: only the damaged frames carry errors.
    EXPECT_EQ(c.tracked_errors, 45u);
    EXPECT_EQ(c.tracked_frames, 340u);
    // The checker, as tarpo-cli rx counts: it compares misaligned frames after each slip until
    // 3 in a row exceed 27 wrong bits (random frames: about 27), so it counts more; it
    // realigns twice and its count covers the damaged frames too.
    EXPECT_EQ(c.realignments, 2u);
    EXPECT_GT(c.bit_errors, 45u + 2 * 3 * 27);
    EXPECT_EQ(c.frames_counted, 340u);  // shown where to go on at once, it skips none
}

TEST(BerLink, FollowsSlipsAtAQuarterOfTheBitsWrong) {
    // BER 0.25, the worst the sweeps meet: no frame is intact and the checker alone could not
    // align, yet the genie must follow a slip of two frames and count close to 0.25. 600
    // frames of 54 bits: the count's spread is 0.3 %; 1 % is allowed.
    std::vector<FrameBits54> r = stream(5, 700);
    r.erase(r.begin() + 305, r.begin() + 307);
    sim::Rng rng(3);
    for (auto& f : r)
        for (auto& b : f) b ^= static_cast<std::uint8_t>(rng.uniform() < 0.25);
    const FrameWindow w{50, 650};
    const ReceiveCounts c = count_frames(r, w);
    EXPECT_EQ(c.delay, 5);
    EXPECT_NEAR(c.tracked_ber(), 0.25, 0.01);
    EXPECT_EQ(c.frames_delivered, 0u);
    EXPECT_GE(c.frames_counted, 550u);
}

TEST(BerLink, HostileFrameLists) {
    const FrameWindow w{50, 200};
    // Nothing received, too little received, all garbage: zero counts, no fault.
    for (std::size_t n : {0u, 10u, 60u}) {
        const ReceiveCounts c = count_frames(stream(static_cast<int>(n), 0), w);
        EXPECT_EQ(c.frames_delivered, 0u);
        EXPECT_EQ(c.frames_lost(), 150u);
    }
    const ReceiveCounts empty = count_frames({}, w);
    EXPECT_EQ(empty.frames_counted, 0u);
    EXPECT_EQ(empty.ber(), 0.0);
    EXPECT_EQ(empty.tracked_ber(), 0.0);
}

TEST(BerLink, CleanLinkDeliversEveryFrame) {
    // 8 s of test frames through the real transmitter and receiver, no channel.
    const std::vector<double> clean = transmit_test_frames(200);
    const ReceiveCounts c = receive_test_frames(clean, FrameWindow{50, 195});
    EXPECT_EQ(c.frames_counted, 145u);
    EXPECT_EQ(c.bit_errors, 0u);
    EXPECT_EQ(c.frames_delivered, 145u);
    EXPECT_EQ(c.tracked_errors, 0u);
    EXPECT_GE(c.frames_assembled, 199u);
}

TEST(BerLink, GenieSplitIsExactAndExplainsTheBer) {
    // 24 s at Eb/N0 6 dB on AWGN. The receiver's symbol samples are the sum of the shadows'
    // to rounding; the detector SNR lies below the ideal 2 Eb/N0 by the pilot's share (about
    // 0.5 dB) and little else (0.15 dB allowed: the filters cost about 0.0 dB on the full
    // sweep, and 24 s estimate the SNR to about 0.02 dB); and the BER predicted from the
    // split matches the measured one (about 900 errors here, 3 % spread; 20 % allowed, the
    // Gaussian model of the phase errors agreed within 10 % on the full sweep).
    const std::vector<double> clean = transmit_test_frames(600);
    sim::ChannelSettings settings;
    settings.snr_db = sim::snr_from_ebno_db(6.0);
    settings.seed = 5;
    std::vector<double> noisy = sim::simulate_channel(clean, settings).samples;
    const ReceiveCounts counts = receive_test_frames(noisy, FrameWindow{50, 595});
    std::vector<double> noise(noisy.size());
    for (std::size_t j = 0; j < noise.size(); ++j) noise[j] = noisy[j] - clean[j];
    const DetectorAnalysis a = analyse_detector(clean, noise);

    EXPECT_LT(a.max_split_error, 1e-9);
    EXPECT_GT(a.symbols, 1000u);
    const double ideal_db = 10.0 * std::log10(2.0 * std::pow(10.0, 0.6));
    const double pilot_db = -10.0 * std::log10(1.0 - a.pilot_share());
    EXPECT_NEAR(pilot_db, 0.5, 0.1);
    EXPECT_NEAR(ideal_db - 10.0 * std::log10(a.snr()), pilot_db, 0.15);
    EXPECT_NEAR(counts.tracked_ber() / a.predicted_ber(), 1.0, 0.2);
    EXPECT_EQ(counts.ber(), counts.tracked_ber());  // no slips at this SNR
}

}  // namespace
}  // namespace tarpo::bench
