// Modulator -> decimate4 -> front end -> decisions -> frame assembly, without a channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "modem/station.h"
#include "voice/test_frame_pattern.h"

namespace {

using namespace tarpo;

struct Frame {
    std::array<std::uint8_t, 54> bits{};
    int dibit = 0;
    bool operator==(const Frame& o) const { return bits == o.bits && dibit == o.dibit; }
};

struct ReceivedFrame {
    Frame frame;
    int symbol = 0;  // symbols decided up to and including this frame's second one
};

// A transmitting and a receiving station with a perfect channel between them.
struct Link {
    std::unique_ptr<modem::Station> tx = std::make_unique<modem::Station>();
    std::unique_ptr<modem::Station> rx = std::make_unique<modem::Station>();
    std::mt19937 rng{42};
    std::vector<Frame> sent;
    std::vector<ReceivedFrame> received;
    std::vector<double> freq_per_symbol;
    std::vector<double> phase_error_per_symbol;
    int symbols = 0;
    std::array<std::int16_t, 1920> block{};

    Link(double tx_freq, double rx_freq, const char* callsign = "NOCALL") {
        tx->tuning().tune(tx_freq);
        rx->tuning().tune(rx_freq);
        char text[81] = {};
        std::strncpy(text, callsign, 80);
        tx->callsign().set_text(text);
    }

    void run(int blocks) {
        std::array<double, 480> decimated{};
        for (int b = 0; b < blocks; ++b) {
            Frame f;
            std::array<std::uint8_t, 64> voice{};
            for (int i = 0; i < 54; ++i)
                voice[static_cast<std::size_t>(i)] = f.bits[static_cast<std::size_t>(i)] =
                    rng() & 1;
            tx->transmit_block(voice.data(), block.data());
            f.dibit = tx->frame_bits().entry(54) + 2 * tx->frame_bits().entry(55);
            sent.push_back(f);
            rx->decimate_block(block.data(), decimated.data());
            for (double x : decimated) {
                const auto event = rx->demod_sample(x);
                if (event == modem::RxEvent::none) continue;
                ++symbols;
                freq_per_symbol.push_back(rx->tuning().frequency());
                phase_error_per_symbol.push_back(rx->phase_error());
                if (event != modem::RxEvent::frame) continue;
                ReceivedFrame r;
                std::copy_n(rx->rx_voice_bits().begin(), 54, r.frame.bits.begin());
                r.frame.dibit = rx->last_callsign_dibit();
                r.symbol = symbols;
                received.push_back(r);
            }
        }
    }

    // Frames received after `from_symbol` must be the sent frames in order, with a fixed
    // latency and none missing. Returns how many were checked.
    int check_frames_after(int from_symbol) const {
        auto first = std::find_if(received.begin(), received.end(),
                                  [&](const ReceivedFrame& r) { return r.symbol > from_symbol; });
        if (first == received.end()) return 0;
        auto match = std::find(sent.begin(), sent.end(), first->frame);
        EXPECT_NE(match, sent.end()) << "first frame after symbol " << from_symbol;
        if (match == sent.end()) return 0;
        std::size_t k = static_cast<std::size_t>(match - sent.begin());
        int checked = 0;
        for (auto it = first; it != received.end(); ++it, ++k) {
            EXPECT_TRUE(k < sent.size() && it->frame == sent[k])
                << "frame at symbol " << it->symbol;
            ++checked;
        }
        return checked;
    }
};

TEST(Loop, CleanSignalDecodesAfterTenSymbols) {
    for (double centre : {1500.0, 1000.0, 2000.0}) {
        Link link(centre, centre);
        link.run(250);  // 10 s
        EXPECT_GT(link.check_frames_after(10), 240) << centre;
        for (double f : link.freq_per_symbol) ASSERT_NEAR(f, centre, 0.05) << centre;
        // The residual error of a clean signal is intersymbol interference of the pulse, so it
        // depends on the data: its mean over random frames settles between 0.03 and 0.06.
        const auto& pe = link.phase_error_per_symbol;
        const double mean = std::accumulate(pe.end() - 100, pe.end(), 0.0) / 100;
        EXPECT_NEAR(mean, 0.045, 0.015) << centre;
    }
}

TEST(Loop, AfcPullsInFourHertz) {
    Link link(1504.0, 1500.0);
    link.run(250);
    EXPECT_GT(link.check_frames_after(12), 230);
    ASSERT_GT(link.freq_per_symbol.size(), 150u);
    EXPECT_GE(link.freq_per_symbol[149] - 1500.0, 0.8 * 4.0);
    EXPECT_NEAR(link.freq_per_symbol.back(), 1504.0, 0.05);
}

TEST(Loop, SplitTransmitsAt1500WhateverTheTuning) {
    Link link(1000.0, 1500.0);
    link.tx->tuning().set_split(true);
    link.tx->tuning().tune(1000.0);
    link.run(100);
    EXPECT_GT(link.check_frames_after(10), 90);
}

TEST(Loop, AlcKeepsTheSignalDecodableAndRaisesTheLevel) {
    double rms[2] = {};
    for (int alc : {0, 1}) {
        Link link(1500.0, 1500.0);
        link.tx->set_alc(alc != 0);
        int peak = 0;
        double power = 0;
        for (int b = 0; b < 250; ++b) {
            link.run(1);
            for (std::int16_t v : link.block) {
                peak = std::max(peak, std::abs(static_cast<int>(v)));
                power += static_cast<double>(v) * v;
            }
        }
        rms[alc] = std::sqrt(power / (250 * 1920)) / 32767;
        EXPECT_GT(link.check_frames_after(10), 240) << alc;
        // Random data peaks near 0.9 of full scale at most (block peaks typically 0.57 to
        // 0.79): the signal stays inside the 16-bit range with some headroom.
        EXPECT_LT(peak, 0.95 * 32767) << alc;
        EXPECT_GT(peak, 0.6 * 32767) << alc;
    }
    // The limiter lifts the quieter parts of the envelope by up to 1.3: about +30 % in RMS.
    EXPECT_GT(rms[1] / rms[0], 1.2);
}

TEST(Loop, CallsignArrivesAlsoWhenReceptionStartsMidCycle) {
    Link link(1500.0, 1500.0, "dl1abc/p");
    link.run(150);
    char text[80] = {};
    ASSERT_GT(link.rx->callsign().take_text(text), 0);
    EXPECT_STREQ(text, "DL1ABC/P");

    // A receiver that joins 17 frames into the cycle first shows the tail, then all of it.
    Link late(1500.0, 1500.0, "DL1ABC/P");
    std::array<std::int16_t, 1920> block{};
    std::array<std::uint8_t, 64> voice{};
    for (int i = 0; i < 17; ++i) late.tx->transmit_block(voice.data(), block.data());
    late.run(3 + 35);  // settle, then one whole cycle (35 dibits) and the next '#'
    ASSERT_GT(late.rx->callsign().take_text(text), 0);
    late.run(36);
    late.rx->callsign().take_text(text);
    EXPECT_STREQ(text, "DL1ABC/P");
}

TEST(Modulator, TestFramesReachTheLimitAndSaturate) {
    // Around 41 s into the test-frame sequence the last stage's product passes the 16-bit
    // limit: the sample must stick at the rail, never wrap to the other sign.
    modem::Station station;
    std::array<std::int16_t, 1920> block{};
    std::array<std::uint8_t, 64> voice{};
    int at_rail = 0;
    int jumps = 0;
    std::int16_t prev = 0;
    for (std::uint64_t n = 0; n < 25 * 42; ++n) {
        voice::test_frame_bits(n, voice.data());
        station.transmit_block(voice.data(), block.data());
        for (std::int16_t v : block) {
            at_rail += v == 32767 || v == -32768;
            jumps += std::abs(v - prev) > 40000;
            prev = v;
        }
    }
    EXPECT_GT(at_rail, 0);
    EXPECT_EQ(jumps, 0);
}

}  // namespace
