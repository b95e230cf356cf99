#include "voice/test_frame_pattern.h"

namespace tarpo::voice {

namespace {

std::array<std::uint8_t, pn9_period> build_pn9() {
    std::array<std::uint8_t, pn9_period> seq{};
    unsigned s = 0x1FF;
    for (auto& bit : seq) {
        bit = static_cast<std::uint8_t>(s & 1);
        const unsigned fb = (s ^ (s >> 4)) & 1;
        s = (s >> 1) | (fb << 8);
    }
    return seq;
}

}  // namespace

const std::array<std::uint8_t, pn9_period>& pn9_sequence() {
    static const std::array<std::uint8_t, pn9_period> seq = build_pn9();
    return seq;
}

void test_frame_bits(std::uint64_t frame, std::uint8_t* bits) {
    const auto& seq = pn9_sequence();
    const std::uint64_t start = (frame % pn9_period) * 54 % pn9_period;
    for (int j = 0; j < 54; ++j)
        bits[j] = seq[(start + static_cast<std::uint64_t>(j)) % pn9_period];
}

void TestFrameCodec::encode(const short*, unsigned char* bits) {
    test_frame_bits(frame_++, bits);
}

void TestFrameCodec::decode(const unsigned char*, short* speech) {
    for (int i = 0; i < 320; ++i) speech[i] = 0;
}

int TestFrameChecker::errors_at(const std::uint8_t* bits, int offset) {
    const auto& seq = pn9_sequence();
    int errors = 0;
    for (int j = 0; j < 54; ++j)
        errors += (bits[j] & 1) != seq[static_cast<std::size_t>((offset + j) % pn9_period)];
    return errors;
}

void TestFrameChecker::count(int errors) {
    ++frames_counted_;
    bit_errors_ += static_cast<std::uint64_t>(errors);
    if (errors > 0) ++frames_in_error_;
}

void TestFrameChecker::check_frame(const std::uint8_t* bits) {
    ++frames_seen_;
    if (aligned_) {
        const int errors = errors_at(bits, expected_);
        last_errors_ = errors;
        expected_ = (expected_ + 54) % pn9_period;
        count(errors);
        bad_run_ = errors > lost_limit ? bad_run_ + 1 : 0;
        if (bad_run_ >= 3) {
            aligned_ = false;
            candidate_frames_ = 0;
            bad_run_ = 0;
        }
        return;
    }
    // Not aligned: continue a candidate alignment, or look for a new one with this frame.
    if (candidate_frames_ > 0) {
        const int errors = errors_at(bits, expected_);
        if (errors <= match_limit) {
            candidate_errors_[static_cast<std::size_t>(candidate_frames_++)] = errors;
            expected_ = (expected_ + 54) % pn9_period;
            if (candidate_frames_ == 3) {
                aligned_ = true;
                ++alignments_;
                for (int e : candidate_errors_) count(e);
                last_errors_ = errors;
            }
            return;
        }
        candidate_frames_ = 0;
    }
    int best = -1;
    int best_errors = match_limit + 1;
    for (int offset = 0; offset < pn9_period; ++offset) {
        const int errors = errors_at(bits, offset);
        if (errors < best_errors) {
            best_errors = errors;
            best = offset;
        }
    }
    last_errors_ = best_errors;
    if (best < 0) return;
    candidate_frames_ = 1;
    candidate_errors_[0] = best_errors;
    expected_ = (best + 54) % pn9_period;
}

}  // namespace tarpo::voice
