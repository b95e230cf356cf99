#include "modem/enhanced_receiver.h"

namespace tarpo::modem {

namespace {

// The front end takes a symbol every 4 filter-bank outputs (240 samples); when its timing
// estimate wraps it takes one after 1 output (the same symbol twice) or after 7 (one
// missed).
constexpr int duplicate_gap = 120;
constexpr int missed_gap = 360;

}  // namespace

void EnhancedReceiver::reset() {
    detector_.reset();
    sync_.reset();
    lock_.reset();
    have_first_ = false;
}

bool EnhancedReceiver::symbol(const std::array<std::complex<double>, carriers>& sample, int gap) {
    retune_hz_ = 0.0;
    if (gap <= duplicate_gap) return false;
    retune_hz_ = lock_.symbol(sample);
    if (retune_hz_ != 0.0) {
        reset();
        return false;
    }
    LookaheadDetector::Out out;
    if (!detector_.push(sample, gap >= missed_gap, out)) return false;
    soft_ = out.soft;
    // The step across a missing symbol is unknown: the references start afresh there, and
    // the frame it belonged to is lost.
    if (out.after_gap) sync_.skip();
    if (!out.decided) {
        sync_.skip();
        have_first_ = false;
        return false;
    }
    if (!sync_.symbol(soft_.pilot_llr)) {
        store_half(0);
        have_first_ = true;
        return false;
    }
    if (!have_first_) return false;
    store_half(1);
    finish_frame();
    have_first_ = false;
    return true;
}

void EnhancedReceiver::store_half(int half) {
    // Data carriers in rising order, skipping the pilot, carry the bit pairs in order.
    std::size_t bit = half == 0 ? 0 : 28;
    for (std::size_t c = 0; c < carriers; ++c) {
        if (c == pilot_carrier) continue;
        pending_[bit] = soft_.llr[2 * c];
        pending_[bit + 1] = soft_.llr[2 * c + 1];
        bit += 2;
    }
}

void EnhancedReceiver::finish_frame() {
    llr_ = pending_;
    for (std::size_t j = 0; j < soft_frame_bits; ++j) bits_[j] = llr_[j] > 0.0 ? 1 : 0;
}

}  // namespace tarpo::modem
