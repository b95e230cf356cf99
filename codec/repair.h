// Repair of a frame whose parity check failed, from the trained statistics of how each
// quantiser index follows the one before (codec/soft_priors.h).
//
// A failed check means an odd number of the bits it covers are wrong, at a low error rate
// most likely one. Every single flip among the covered bits (and the parity bit itself) is
// equally likely a priori, so the likeliest is the one whose indices fit best between the
// frame before and the frame after: the largest product of trained transition probabilities
// along each parameter's chain.
#pragma once

#include <array>
#include <cstddef>

#include "codec/quantiser.h"

namespace tarpo::codec {

// log P(to | from) one step along a track (transition_prob of codec/soft_decoder.h), smoothed
// towards the overall index probabilities so that no change is impossible.
double transition_log_prob(std::size_t track, int from, int to);

// A frame after repair: its likeliest indices, and the mean of the values each repair would
// give, weighted by its probability (which spares a wrong guess between close candidates).
struct Repair {
    FrameIndices likeliest;      // the flags left as received
    std::array<double, 2> db{};  // energy per half frame, dBFS (-infinity: silence)
    double log_f0 = 0.0;         // log Hz
    Lsf lsf{};                   // the end envelope, unordered
};
// mid with the covered bits of each failed check (intact, lsf_intact false) repaired given
// the neighbouring frames' indices.
Repair repair_parity(const FrameIndices& before, const FrameIndices& mid,
                     const FrameIndices& after);

}  // namespace tarpo::codec
