#include "codec/repair.h"

#include <array>
#include <bit>
#include <cmath>

#include "codec/soft_decoder.h"
#include "codec/soft_priors.h"

namespace tarpo::codec {

namespace {

// The same field in the other half frame.
Field in_slot(Field f, int slot) {
    f.slot = slot;
    return f;
}

// Whether a field has a bit whose error gives this syndrome.
bool suspect(const Field& f, unsigned syndrome) {
    if (syndrome == 0) return false;  // uncovered bits have column 0
    for (unsigned c : f.column)
        if (c == syndrome) return true;
    return false;
}

// log P of the suspect fields along their chains: from the frame before into mid, within mid,
// and on into the frame after.
double chain_score(const FrameIndices& before, const FrameIndices& mid, const FrameIndices& after,
                   unsigned syndrome) {
    double s = 0.0;
    for (const Field& f : frame_fields) {
        if (!suspect(f, syndrome)) continue;
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

// log P of how the suspect fields go with the fields of their own frame (joint_tree).
double frame_score(const FrameIndices& mid, unsigned syndrome) {
    if (!soft_joint_priors_fit()) return 0.0;
    double s = 0.0;
    for (std::size_t e = 0; e < joint_tree.size(); ++e) {
        const Field& a = frame_fields[joint_tree[e].first];
        const Field& b = frame_fields[joint_tree[e].second];
        if (suspect(a, syndrome) || suspect(b, syndrome))
            s += std::log(joint_prob(e, field_index(mid, a), field_index(mid, b)));
    }
    return s;
}

// The candidates for a syndrome: the frame with each bit of that column flipped, and as
// received when a parity bit alone could be wrong; and their probabilities, best first.
struct Candidates {
    std::array<FrameIndices, frame_bits> frame{};
    std::array<double, frame_bits> weight{};
    std::size_t count = 0;
};

Candidates candidates(const FrameIndices& before, const FrameIndices& mid,
                      const FrameIndices& after) {
    Candidates c;
    std::array<std::uint8_t, frame_bits> bits{};
    pack_frame(mid, bits.data());
    const unsigned syndrome = mid.syndrome;
    for (const Field& f : frame_fields)
        for (int b = 0; b < f.bits; ++b) {
            if (syndrome == 0 || f.column[static_cast<std::size_t>(b)] != syndrome) continue;
            auto flipped = bits;
            flipped[static_cast<std::size_t>(f.first_bit + b)] ^= 1u;
            FrameIndices& g = c.frame[c.count++] = unpack_frame(flipped.data());
            g.syndrome = syndrome;
        }
    // A parity bit alone; or several wrong bits, which the frame as received stands for.
    if (std::popcount(syndrome) == 1 || c.count == 0) c.frame[c.count++] = mid;
    std::size_t best = 0;
    for (std::size_t k = 0; k < c.count; ++k) {
        c.weight[k] =
            chain_score(before, c.frame[k], after, syndrome) + frame_score(c.frame[k], syndrome);
        if (c.weight[k] > c.weight[best]) best = k;
    }
    std::swap(c.frame[0], c.frame[best]);
    std::swap(c.weight[0], c.weight[best]);
    double total = 0.0;
    for (std::size_t k = 0; k < c.count; ++k)
        total += c.weight[k] = std::exp(c.weight[k] - c.weight[0]);
    for (std::size_t k = 0; k < c.count; ++k) c.weight[k] /= total;
    return c;
}

}  // namespace

double transition_log_prob(std::size_t track, int from, int to) {
    if (!soft_priors_fit() || track >= track_count) return 0.0;
    const auto levels = static_cast<int>(soft_prior_levels[track]);
    if (from < 0 || to < 0 || from >= levels || to >= levels) return 0.0;
    return std::log(transition_prob(track, from, to));
}

Repair repair_parity(const FrameIndices& before, const FrameIndices& mid,
                     const FrameIndices& after) {
    // The mean values of the candidates (equal, for a field no candidate changes).
    const Candidates c = candidates(before, mid, after);
    Repair r;
    for (std::size_t k = 0; k < c.count; ++k) {
        const FrameIndices& f = c.frame[k];
        for (std::size_t h = 0; h < 2; ++h) r.db[h] += c.weight[k] * energy_for_mean(f.energy[h]);
        r.log_f0 += c.weight[k] * std::log(pitch_hz(f.pitch));
        const Lsf l = dequantise_lsf(f.lsf);
        for (std::size_t i = 0; i < lpc_order; ++i) r.lsf[i] += c.weight[k] * l[i];
    }
    for (std::size_t h = 0; h < 2; ++h) r.db[h] = energy_from_mean(r.db[h]);
    r.likeliest = c.frame[0];
    return r;
}

}  // namespace tarpo::codec
