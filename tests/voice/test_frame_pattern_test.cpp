#include "voice/test_frame_pattern.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace {

using namespace tarpo::voice;

TEST(TestFrames, Pn9HasPeriod511AndBalance) {
    const auto& seq = pn9_sequence();
    int ones = 0;
    for (auto b : seq) ones += b;
    EXPECT_EQ(ones, 256);  // a maximal-length sequence has one more 1 than 0s
    // Every non-zero 9-bit window occurs once.
    std::set<int> windows;
    for (int i = 0; i < 511; ++i) {
        int w = 0;
        for (int j = 0; j < 9; ++j) w |= seq[static_cast<std::size_t>((i + j) % 511)] << j;
        windows.insert(w);
    }
    EXPECT_EQ(windows.size(), 511u);
    EXPECT_EQ(windows.count(0), 0u);
    EXPECT_EQ(seq[0], 1);  // state 0x1FF outputs 1 first
}

TEST(TestFrames, CheckerAlignsOnThreeFramesAndCountsFromTheFirst) {
    TestFrameChecker checker;
    std::array<std::uint8_t, 54> bits{};
    test_frame_bits(100, bits.data());
    checker.check_frame(bits.data());  // a lone match: not aligned yet
    test_frame_bits(7, bits.data());
    checker.check_frame(bits.data());  // does not continue frame 100: starts afresh
    EXPECT_FALSE(checker.aligned());
    test_frame_bits(8, bits.data());
    bits[3] ^= 1;  // a few wrong bits are allowed
    checker.check_frame(bits.data());
    test_frame_bits(9, bits.data());
    checker.check_frame(bits.data());
    EXPECT_TRUE(checker.aligned());
    EXPECT_EQ(checker.frames_counted(), 3u);
    EXPECT_EQ(checker.bit_errors(), 1u);
    EXPECT_EQ(checker.frames_seen(), 4u);
}

TEST(TestFrames, CheckerRealignsAfterThreeLostFrames) {
    TestFrameChecker checker;
    std::array<std::uint8_t, 54> bits{};
    for (int n = 0; n < 5; ++n) {
        test_frame_bits(static_cast<std::uint64_t>(n), bits.data());
        checker.check_frame(bits.data());
    }
    // Three frames that are all wrong (complemented): counted, then alignment is dropped.
    for (int n = 5; n < 8; ++n) {
        test_frame_bits(static_cast<std::uint64_t>(n), bits.data());
        for (auto& b : bits) b ^= 1;
        checker.check_frame(bits.data());
    }
    EXPECT_FALSE(checker.aligned());
    EXPECT_EQ(checker.frames_counted(), 8u);
    EXPECT_EQ(checker.bit_errors(), 3u * 54);
    // A jump in the sequence (frames lost) is found again after three frames.
    for (int n = 300; n < 303; ++n) {
        test_frame_bits(static_cast<std::uint64_t>(n), bits.data());
        checker.check_frame(bits.data());
    }
    EXPECT_TRUE(checker.aligned());
    EXPECT_EQ(checker.alignments(), 2u);
    EXPECT_EQ(checker.bit_errors(), 3u * 54);
}

}  // namespace
