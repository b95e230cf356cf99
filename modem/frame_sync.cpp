#include "modem/frame_sync.h"

#include <algorithm>
#include <cmath>

namespace tarpo::modem {

namespace {

// A vote is clipped so that one confident wrong decision cannot outweigh a run of right ones;
// with memory 0.8 the score of a clean signal settles at 30 and a moved pattern overturns it
// at the fourth symbol.
constexpr double vote_clip = 6.0;
constexpr double vote_memory = 0.8;

// The alternation score remembers about 20 symbols. A clean pilot settles at 20, a data
// carrier or noise spreads about +-2.3; a neighbour must stay above 10 and twice the others
// for 10 symbols in a row before the receiver retunes.
constexpr double pattern_memory = 0.95;
constexpr double pattern_threshold = 10.0;
constexpr int pattern_run = 10;

}  // namespace

bool FrameSync::symbol(double pilot_llr) {
    const double vote = std::clamp(pilot_llr, -vote_clip, vote_clip);
    score_ = vote_memory * score_ + (next_second_ ? vote : -vote);
    if (score_ < 0.0) {  // the other phase wins the vote
        next_second_ = !next_second_;
        score_ = -score_;
    }
    const bool second = next_second_;
    next_second_ = !next_second_;
    return second;
}

double CarrierLock::symbol(const std::array<std::complex<double>, carriers>& sample) {
    for (std::size_t k = 0; k < 3; ++k) {
        const std::complex<double> z = sample[pilot_carrier - 1 + k];
        const double m = std::abs(z) * std::abs(last_[k]);
        // cos of the phase change: +1 kept, -1 reversed; the sign of the sum alternates.
        const double p = m > 0.0 ? (z * std::conj(last_[k])).real() / m : 0.0;
        score_[k] = p - pattern_memory * score_[k];
        last_[k] = z;
    }
    const double below = std::abs(score_[0]);
    const double centre = std::abs(score_[1]);
    const double above = std::abs(score_[2]);
    int side = 0;
    if (above > pattern_threshold && above > 2.0 * std::max(centre, below)) side = 1;
    if (below > pattern_threshold && below > 2.0 * std::max(centre, above)) side = -1;
    run_ = side != 0 && side == side_ ? run_ + 1 : (side != 0 ? 1 : 0);
    side_ = side;
    if (run_ < pattern_run) return 0.0;
    reset();
    return 75.0 * side;
}

}  // namespace tarpo::modem
