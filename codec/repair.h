// Repair of a frame that fails parity checks, from the trained statistics of how each
// quantiser index follows the one before (codec/tables/soft_priors.h) and goes with the
// others of its frame (codec/tables/soft_joint_priors.h).
//
// At a low error rate the failed checks (the syndrome) most likely come from one wrong bit:
// one of the few whose column they are, or a parity bit itself when only one check fails.
// Less likely, from two wrong bits whose columns together give it. Each candidate is weighed
// by its prior and by how well the covered fields fit between the frame before and the frame
// after and with the rest of the frame: the product of trained transition and joint
// probabilities.
#pragma once

#include <array>
#include <cstddef>

#include "codec/quantiser.h"

namespace tarpo::codec {

// log P(to | from) one step along a track (shared_transition_prob of codec/soft_decoder.h).
double transition_log_prob(std::size_t track, int from, int to);

// A frame after repair: its likeliest indices, and the mean of the values each repair would
// give, weighted by its probability (which spares a wrong guess between close candidates).
struct Repair {
    FrameIndices likeliest;      // the flags left as received
    std::array<double, 2> db{};  // energy per half frame, dBFS (-infinity: silence)
    double log_f0 = 0.0;         // log Hz
    Lsf lsf{};                   // the end envelope, unordered
};
// mid, whose syndrome is not 0, repaired given the neighbouring frames' indices.
Repair repair_parity(const FrameIndices& before, const FrameIndices& mid,
                     const FrameIndices& after);

}  // namespace tarpo::codec
