// The soft decoder's trained statistics (codec/tables/soft_priors.h and
// codec/tables/soft_joint_priors.h: counts of index transitions along each track and of index
// pairs within a frame) turned into the probabilities it works with, built once on first use.
#pragma once

#include <array>
#include <cstddef>

#include "codec/soft_decoder.h"

namespace tarpo::codec {

// Probabilities this small against the largest (or against 1) are left out of the sums over
// indices: most of a reliable field's indices have likelihoods far below it.
inline constexpr double negligible = 1e-12;

// Levels of each track, from the frame's fields.
constexpr std::array<std::size_t, track_count> track_levels() {
    std::array<std::size_t, track_count> l{};
    for (const Field& f : frame_fields) l[track_of(f)] = std::size_t{1} << f.bits;
    return l;
}
inline constexpr std::array<std::size_t, track_count> levels_of = track_levels();

constexpr std::size_t transition_cells() {
    std::size_t n = 0;
    for (const std::size_t l : levels_of) n += l * l;
    return n;
}

// The transition counts, turned into probabilities.
struct TransitionPriors {
    std::array<std::size_t, track_count> offset{};  // of each track's rows in shared
    std::array<std::array<double, max_levels>, track_count> marginal{};
    // shared[offset + from * levels + to]: P(to | from) one step later, with the end
    // envelope's counts shared out among close entries.
    std::array<double, transition_cells()> shared{};
};
// Built in place once (1.1 MB, too large for a thread's stack), at the first call.
const TransitionPriors& transition_priors();

inline constexpr std::size_t pair_count = joint_tree.size();

constexpr std::size_t joint_cells() {
    std::size_t n = 0;
    for (const JointPair& e : joint_tree) n += field_levels(e.first) * field_levels(e.second);
    return n;
}

// For each pair (first, second) of joint_tree:
// given_second[at + i * levels of the second + j] = P(first = i | second = j) and
// given_first[at + j * levels of the first + i] = P(second = j | first = i), each column of
// the trained counts pulled towards the other field's overall probabilities as the
// transitions are. Every index alike where the counts were made for other fields.
struct JointPriors {
    std::array<std::size_t, pair_count> offset{};
    std::array<double, joint_cells()> given_second{}, given_first{};
};
// Built in place once (1.3 MB), at the first call.
const JointPriors& joint_priors();

}  // namespace tarpo::codec
