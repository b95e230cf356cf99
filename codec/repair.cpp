#include "codec/repair.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "codec/soft_decoder.h"
#include "codec/tables/soft_priors.h"

namespace tarpo::codec {

namespace {

// The same field in the other half frame.
Field in_slot(Field f, int slot) {
    f.slot = slot;
    return f;
}

// log P of the covered fields along their chains: from the frame before into mid, within mid,
// and on into the frame after. (Every candidate is scored on all of them: a candidate for two
// wrong bits changes fields that one for a single bit leaves alone.)
double chain_score(const FrameIndices& before, const FrameIndices& mid, const FrameIndices& after) {
    double s = 0.0;
    for (const Field& f : frame_fields) {
        if (!checked(f)) continue;
        const std::size_t track = track_of(f);
        const int here = field_index(mid, f);
        if (!steps_by_halves(f)) {
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

// log P of how the covered fields go with the fields of their own frame (joint_tree).
double frame_score(const FrameIndices& mid) {
    if (!soft_joint_priors_fit()) return 0.0;
    double s = 0.0;
    for (std::size_t e = 0; e < joint_tree.size(); ++e) {
        const Field& a = frame_fields[joint_tree[e].first];
        const Field& b = frame_fields[joint_tree[e].second];
        if (checked(a) || checked(b))
            s += std::log(joint_prob(e, field_index(mid, a), field_index(mid, b)));
    }
    return s;
}

// A bit the checks see: its position in the frame and its column (a parity bit's column is its
// own check).
struct CheckedBit {
    std::size_t at;
    unsigned column;
};
constexpr std::size_t count_checked_bits() {
    std::size_t n = parity_bits;
    for (const Field& f : frame_fields)
        for (unsigned c : f.column) n += c != 0;
    return n;
}
inline constexpr std::size_t checked_bit_count = count_checked_bits();
constexpr std::array<CheckedBit, checked_bit_count> make_checked_bits() {
    std::array<CheckedBit, checked_bit_count> list{};
    std::size_t n = 0;
    for (const Field& f : frame_fields)
        for (int b = 0; b < f.bits; ++b)
            if (const unsigned c = f.column[static_cast<std::size_t>(b)])
                list[n++] = {static_cast<std::size_t>(f.first_bit + b), c};
    for (int k = 0; k < parity_bits; ++k)
        list[n++] = {parity_position + static_cast<std::size_t>(k), 1u << k};
    return list;
}
inline constexpr auto checked_bits = make_checked_bits();

// The most pairs of checked bits that one syndrome can stand for.
constexpr std::size_t most_pairs() {
    std::size_t most = 0;
    for (unsigned s = 1; s < (1u << parity_bits); ++s) {
        std::size_t n = 0;
        for (std::size_t i = 0; i < checked_bit_count; ++i)
            for (std::size_t j = i + 1; j < checked_bit_count; ++j)
                n += (checked_bits[i].column ^ checked_bits[j].column) == s;
        most = std::max(most, n);
    }
    return most;
}

// Prior odds of two wrong bits against one. A channel with bit error rate p gives p / (1 - p),
// and at 1 % one failed check in six or seven comes from two wrong bits (taken for one, the
// repair makes a third). But the trained statistics are sharper than a new voice follows,
// so among the thirty-odd pairs behind a syndrome one may fit by chance: on a voice the
// tables were not trained on, 10^-3 did best (1 % bit errors cost 0.0199 STOI; 0.0206 at
// 3 x 10^-3, 0.0208 at 10^-4, 0.0218 at 10^-2).
constexpr double two_bit_prior = 1e-3;

// The candidates for a syndrome: the frame with each single checked bit flipped whose column
// it is (the frame as received when that is a parity bit), then with each pair whose columns
// together give it; and their probabilities, best first.
struct Candidates {
    static constexpr std::size_t capacity = checked_bit_count + most_pairs();
    std::array<FrameIndices, capacity> frame{};
    std::array<double, capacity> weight{};
    std::size_t count = 0;
};

void add_candidate(Candidates& c, std::array<std::uint8_t, frame_bits> bits, std::size_t i,
                   std::size_t j, unsigned syndrome) {
    bits[i] ^= 1u;
    if (j != i) bits[j] ^= 1u;
    FrameIndices& g = c.frame[c.count++] = unpack_frame(bits.data());
    g.syndrome = syndrome;
}

Candidates candidates(const FrameIndices& before, const FrameIndices& mid,
                      const FrameIndices& after) {
    Candidates c;
    std::array<std::uint8_t, frame_bits> bits{};
    pack_frame(mid, bits.data());
    const unsigned syndrome = mid.syndrome;
    if (syndrome == 0) {  // intact
        c.frame[c.count++] = mid;
        c.weight[0] = 1.0;
        return c;
    }
    for (const CheckedBit& b : checked_bits)
        if (b.column == syndrome) add_candidate(c, bits, b.at, b.at, syndrome);
    const std::size_t singles = c.count;
    for (std::size_t i = 0; i < checked_bit_count; ++i)
        for (std::size_t j = i + 1; j < checked_bit_count; ++j)
            if ((checked_bits[i].column ^ checked_bits[j].column) == syndrome)
                add_candidate(c, bits, checked_bits[i].at, checked_bits[j].at, syndrome);
    if (c.count == 0) c.frame[c.count++] = mid;  // no layout leaves a syndrome unexplained
    std::size_t best = 0;
    for (std::size_t k = 0; k < c.count; ++k) {
        c.weight[k] = chain_score(before, c.frame[k], after) + frame_score(c.frame[k]) +
                      (k < singles ? 0.0 : std::log(two_bit_prior));
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
    return std::log(shared_transition_prob(track, from, to));
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
