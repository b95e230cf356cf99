// The enhanced receiver's back end: after the same front end, frequency tracking and quality
// figure as the differential receiver, it decides each symbol with the decision-feedback detector
// (with four symbols of look-ahead), finds the frames with the pilot flywheel, checks for a lock
// a whole carrier off, and puts each frame together with a log-likelihood ratio per bit.
//
// LLR sign convention: positive suggests a 1. A bit's hard value is 1 exactly when its LLR is
// positive (the bitwise most likely value). The look-ahead delays each frame by four symbols
// (80 ms) against the differential receiver.
#pragma once

#include <array>
#include <complex>
#include <cstdint>

#include "modem/coherent.h"
#include "modem/constants.h"
#include "modem/frame_sync.h"

namespace tarpo::modem {

// 54 voice bits and the callsign dibit (low bit 54, high bit 55), as the frame sends them.
inline constexpr int soft_frame_bits = 56;

class EnhancedReceiver {
  public:
    // One symbol from the front end; gap: 12 kHz samples since the previous one (240 when the
    // symbol clock runs steadily). Returns true when a frame is complete.
    bool symbol(const std::array<std::complex<double>, carriers>& sample, int gap);

    // Non-zero (+-75 Hz) after a symbol that found the signal one carrier spacing off: the
    // caller retunes by that much. The receiver has already started afresh.
    double retune_hz() const { return retune_hz_; }

    // The last frame: bits 0..55 (0 or 1) and their LLRs.
    const std::array<std::uint8_t, soft_frame_bits>& bits() const { return bits_; }
    const std::array<double, soft_frame_bits>& llr() const { return llr_; }
    int callsign_dibit() const { return bits_[54] + 2 * bits_[55]; }

    void reset();

    const LookaheadDetector& detector() const { return detector_; }
    const FrameSync& sync() const { return sync_; }

  private:
    void store_half(int half);
    void finish_frame();

    LookaheadDetector detector_;
    FrameSync sync_;
    CarrierLock lock_;
    SymbolSoft soft_{};
    std::array<double, soft_frame_bits> pending_{};  // LLRs of the frame being put together
    bool have_first_ = false;
    double retune_hz_ = 0.0;
    std::array<std::uint8_t, soft_frame_bits> bits_{};
    std::array<double, soft_frame_bits> llr_{};
};

}  // namespace tarpo::modem
