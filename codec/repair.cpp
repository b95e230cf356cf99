#include "codec/repair.h"

#include <array>
#include <cmath>

#include "codec/soft_decoder.h"
#include "codec/soft_priors.h"

namespace tarpo::codec {

namespace {

// How far the trained transitions are trusted, as in the soft decoder: each row mixed with
// the overall index probabilities by this share, rare rows pulled towards them.
constexpr double transition_floor = 0.02;
constexpr double row_prior_frames = 2.0;

constexpr std::size_t level_total() {
    std::size_t n = 0;
    for (const std::size_t l : soft_prior_levels) n += l;
    return n;
}

// Per track: where its counts start, and per index the row total and the overall probability.
struct Totals {
    std::array<std::size_t, track_count> cells{};
    std::array<std::size_t, track_count> first{};  // of its levels in row and marginal
    std::array<double, level_total()> row{};
    std::array<double, level_total()> marginal{};
};

const Totals& totals() {
    static const Totals t = [] {
        Totals q{};
        std::size_t cell = 0, first = 0;
        for (std::size_t k = 0; k < track_count && soft_priors_fit(); ++k) {
            const std::size_t levels = soft_prior_levels[k];
            q.cells[k] = cell;
            q.first[k] = first;
            double all = 0.0;
            for (std::size_t i = 0; i < levels; ++i)
                for (std::size_t j = 0; j < levels; ++j) {
                    const double c = soft_prior_counts[cell + i * levels + j];
                    q.row[first + i] += c;
                    q.marginal[first + j] += c;
                    all += c;
                }
            for (std::size_t j = 0; j < levels; ++j)
                q.marginal[first + j] = (q.marginal[first + j] + 1.0) / (all + double(levels));
            cell += levels * levels;
            first += levels;
        }
        return q;
    }();
    return t;
}

// The same field in the other half frame.
Field in_slot(Field f, int slot) {
    f.slot = slot;
    return f;
}

// log P of the covered fields of the failed checks along their chains: from the frame before
// into mid, within mid, and on into the frame after.
double chain_score(const FrameIndices& before, const FrameIndices& mid, const FrameIndices& after,
                   const std::array<bool, parity_bits>& failed) {
    double s = 0.0;
    for (const Field& f : frame_fields) {
        if (f.parity_covered == 0 || !failed[static_cast<std::size_t>(f.parity)]) continue;
        const std::size_t track = track_of(f);
        const int here = field_index(mid, f);
        const bool halves = f.kind == FieldKind::energy || f.kind == FieldKind::energy_mid ||
                            f.kind == FieldKind::voicing;
        if (!halves) {
            s += transition_log_prob(track, field_index(before, f), here);
            s += transition_log_prob(track, here, field_index(after, f));
        } else if (f.slot == 0) {
            s += transition_log_prob(track, field_index(before, in_slot(f, 1)), here);
        } else {
            s += transition_log_prob(track, field_index(mid, in_slot(f, 0)), here);
            s += transition_log_prob(track, here, field_index(after, in_slot(f, 0)));
        }
    }
    return s;
}

}  // namespace

double transition_log_prob(std::size_t track, int from, int to) {
    if (!soft_priors_fit() || track >= track_count) return 0.0;
    const Totals& t = totals();
    const auto levels = static_cast<int>(soft_prior_levels[track]);
    if (from < 0 || to < 0 || from >= levels || to >= levels) return 0.0;
    const double m = t.marginal[t.first[track] + static_cast<std::size_t>(to)];
    const double row = t.row[t.first[track] + static_cast<std::size_t>(from)];
    const double c =
        soft_prior_counts[t.cells[track] + static_cast<std::size_t>(from * levels + to)];
    const double trained = (c + row_prior_frames * m) / (row + row_prior_frames);
    return std::log((1.0 - transition_floor) * trained + transition_floor * m);
}

FrameIndices repair_parity(const FrameIndices& before, const FrameIndices& mid,
                           const FrameIndices& after) {
    const std::array<bool, parity_bits> failed = {!mid.intact, !mid.lsf_intact};
    FrameIndices best = mid;
    if (!failed[0] && !failed[1]) return best;
    // Each check on its own (they cover different fields): the received frame (its parity bit
    // wrong) against every single flip of a covered bit.
    for (int k = 0; k < parity_bits; ++k) {
        if (!failed[static_cast<std::size_t>(k)]) continue;
        std::array<std::uint8_t, frame_bits> bits{};
        pack_frame(best, bits.data());
        std::array<bool, parity_bits> only{};
        only[static_cast<std::size_t>(k)] = true;
        double best_score = chain_score(before, best, after, only);
        FrameIndices chosen = best;
        for (const Field& f : frame_fields)
            for (int b = 0; b < (f.parity == k ? f.parity_covered : 0); ++b) {
                auto flipped = bits;
                flipped[static_cast<std::size_t>(f.first_bit + b)] ^= 1u;
                FrameIndices c = unpack_frame(flipped.data());
                c.intact = mid.intact;
                c.lsf_intact = mid.lsf_intact;
                const double score = chain_score(before, c, after, only);
                if (score > best_score) {
                    best_score = score;
                    chosen = c;
                }
            }
        best = chosen;
    }
    return best;
}

}  // namespace tarpo::codec
