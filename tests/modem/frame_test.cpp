// The frame's bit layout: transmit steps and receive assembly, and their loop-back.
#include "modem/frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "dsp/numeric.h"

namespace {

using tarpo::modem::FrameBits;
constexpr double quarter = 0.25 * 6.28318531;

// The 30 steps of one frame, in quarter turns: [symbol][carrier].
std::array<std::array<int, 15>, 2> steps_of(FrameBits& frame, const std::uint8_t* bits, int dibit) {
    frame.load(bits, dibit);
    std::array<std::array<int, 15>, 2> steps{};
    for (auto& symbol : steps)
        for (int c = 0; c < 15; ++c)
            symbol[static_cast<std::size_t>(c)] =
                tarpo::dsp::nearest_int(frame.carrier_phase_step(c) / quarter);
    return steps;
}

TEST(Frame, StepsOfSingleBits) {
    FrameBits frame;
    std::array<std::uint8_t, 64> bits{};
    auto steps = steps_of(frame, bits.data(), 0);
    for (int c = 0; c < 15; ++c) {
        EXPECT_EQ(steps[0][static_cast<std::size_t>(c)], 0);
        EXPECT_EQ(steps[1][static_cast<std::size_t>(c)], c == 7 ? 2 : 0);  // pilot reverses
    }
    EXPECT_EQ(frame.cursor(), 56);

    bits[0] = 1;
    EXPECT_EQ(steps_of(frame, bits.data(), 0)[0][0], 1);
    bits[0] = 0;
    bits[1] = 1;
    EXPECT_EQ(steps_of(frame, bits.data(), 0)[0][0], 2);
    bits[1] = 0;
    bits[14] = 1;
    EXPECT_EQ(steps_of(frame, bits.data(), 0)[0][8], 1);
    bits[14] = 0;
    EXPECT_EQ(steps_of(frame, bits.data(), 3)[1][14], 3);  // callsign dibit on carrier 14
    // Only bit 0 of a voice byte counts.
    bits[0] = 2;
    bits[1] = 3;
    EXPECT_EQ(steps_of(frame, bits.data(), 0)[0][0], 2);
}

TEST(Frame, LoopBack) {
    FrameBits tx;
    FrameBits rx;
    std::array<std::uint8_t, 64> bits{};
    for (int seed = 0; seed < 50; ++seed) {
        for (int i = 0; i < 54; ++i)
            bits[static_cast<std::size_t>(i)] = (i * 7 + seed * 13) % 5 % 2;
        const int dibit = seed % 4;
        const auto steps = steps_of(tx, bits.data(), dibit);
        std::array<std::uint8_t, 56> rx_bits{};
        rx_bits.fill(9);
        std::array<int, 15> decisions{};
        int result = 0;
        for (int s = 0; s < 2; ++s) {
            for (int c = 0; c < 15; ++c)
                decisions[static_cast<std::size_t>(c)] =
                    c == 7 ? s : steps[static_cast<std::size_t>(s)][static_cast<std::size_t>(c)];
            result = rx.assemble(decisions, rx_bits.data());
            if (s == 0) {
                EXPECT_EQ(result, -1);
            }
        }
        EXPECT_EQ(result, dibit);
        for (int i = 0; i < 54; ++i)
            EXPECT_EQ(rx_bits[static_cast<std::size_t>(i)], bits[static_cast<std::size_t>(i)]);
        EXPECT_EQ(rx_bits[54], 9);  // never written
    }
}

TEST(Frame, SyncRestsOnThePilotAlone) {
    FrameBits rx;
    std::array<std::uint8_t, 56> out{};
    std::array<int, 15> first{};
    first.fill(1);
    first[7] = 0;
    std::array<int, 15> second{};
    second.fill(2);
    second[7] = 1;
    // A run of first symbols completes nothing.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(rx.assemble(first, out.data()), -1);
    // Two second symbols in a row complete two frames from the same first half.
    EXPECT_EQ(rx.assemble(second, out.data()), 2);
    EXPECT_EQ(rx.assemble(second, out.data()), 2);
    EXPECT_EQ(out[0], 1);   // dibit 1 of the first half: low bit 1
    EXPECT_EQ(out[28], 0);  // dibit 2 of the second half: low bit 0
    EXPECT_EQ(out[29], 1);
}

TEST(Frame, CursorNeverLeavesTheBuffer) {
    // Symbols modulated without a new frame walk the cursor on; it must stay inside.
    FrameBits frame;
    std::array<std::uint8_t, 64> bits{};
    frame.load(bits.data(), 0);
    for (int i = 0; i < 10000; ++i) {
        frame.carrier_phase_step(i % 15);
        ASSERT_GE(frame.cursor(), 0);
        ASSERT_LT(frame.cursor(), 100);
    }
}

}  // namespace
