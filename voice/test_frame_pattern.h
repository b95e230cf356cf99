// Test frames: a known bit sequence in place of speech, so that a receiver can count its bit
// errors. Frame n carries bits 54n .. 54n+53 of a PN9 sequence (period 511) as voice bits.
#pragma once

#include <array>
#include <cstdint>

#include "voice/codec_adapter.h"

namespace tarpo::voice {

// The PN9 sequence: 9-bit state 0x1FF, output the low bit, feedback bit 0 xor bit 4 into
// bit 8. Period 511.
inline constexpr int pn9_period = 511;
const std::array<std::uint8_t, pn9_period>& pn9_sequence();

// Writes the 54 voice bits of test frame `frame` (one bit per byte) into bits.
void test_frame_bits(std::uint64_t frame, std::uint8_t* bits);

// Stands where the speech codec sits and sends the test frames: frame n of the stream
// carries test frame n whatever the speech; decoding gives silence.
class TestFrameCodec final : public voice::SpeechCodec {
  public:
    void ana_init() override { frame_ = 0; }
    void syn_init() override {}
    void encode(const short* speech, unsigned char* bits) override;
    void decode(const unsigned char* bits, short* speech) override;

  private:
    std::uint64_t frame_ = 0;
};

// Counts bit errors of received test frames. It aligns itself: a frame is matched against the
// 511 starting offsets of the sequence; alignment holds when one matches with at most 5 wrong
// bits and the next two frames match its continuation likewise, and counting starts with the
// first of those three. After 3 counted frames in a row with more than 27 wrong bits it aligns
// afresh.
class TestFrameChecker {
  public:
    static constexpr int match_limit = 5;
    static constexpr int lost_limit = 27;

    // One received frame's 54 voice bits (bit 0 of each byte).
    void check_frame(const std::uint8_t* bits);

    std::uint64_t frames_seen() const { return frames_seen_; }
    std::uint64_t frames_counted() const { return frames_counted_; }
    std::uint64_t bits_compared() const { return frames_counted_ * 54; }
    std::uint64_t bit_errors() const { return bit_errors_; }
    // Counted frames with at least one wrong bit.
    std::uint64_t frames_in_error() const { return frames_in_error_; }
    std::uint64_t alignments() const { return alignments_; }
    bool aligned() const { return aligned_; }
    int last_errors() const { return last_errors_; }

  private:
    static int errors_at(const std::uint8_t* bits, int offset);
    void count(int errors);

    bool aligned_ = false;
    int expected_ = 0;  // offset into the sequence of the next frame
    int candidate_frames_ = 0;
    std::array<int, 3> candidate_errors_{};
    int bad_run_ = 0;
    int last_errors_ = 0;
    std::uint64_t frames_seen_ = 0;
    std::uint64_t frames_counted_ = 0;
    std::uint64_t frames_in_error_ = 0;
    std::uint64_t bit_errors_ = 0;
    std::uint64_t alignments_ = 0;
};

}  // namespace tarpo::voice
