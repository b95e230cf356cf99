#include "codec/repair.h"

#include <array>
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

// log P of the fields one check covers along their chains: from the frame before into mid,
// within mid, and on into the frame after.
double chain_score(const FrameIndices& before, const FrameIndices& mid, const FrameIndices& after,
                   int check) {
    double s = 0.0;
    for (const Field& f : frame_fields) {
        if (f.parity_covered == 0 || f.parity != check) continue;
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

// Whether a check covers a parameter.
bool covers(int check, FieldKind kind) {
    for (const Field& f : frame_fields)
        if (f.kind == kind && f.parity == check && f.parity_covered > 0) return true;
    return false;
}

// The candidates for one failed check: the frame as received (the parity bit wrong) and with
// each covered bit flipped; and their probabilities, best first.
struct Candidates {
    std::array<FrameIndices, frame_bits> frame{};
    std::array<double, frame_bits> weight{};
    std::size_t count = 0;
};

Candidates candidates(const FrameIndices& before, const FrameIndices& mid,
                      const FrameIndices& after, int check) {
    Candidates c;
    std::array<std::uint8_t, frame_bits> bits{};
    pack_frame(mid, bits.data());
    c.frame[c.count++] = mid;
    for (const Field& f : frame_fields)
        for (int b = 0; b < (f.parity == check ? f.parity_covered : 0); ++b) {
            auto flipped = bits;
            flipped[static_cast<std::size_t>(f.first_bit + b)] ^= 1u;
            FrameIndices& g = c.frame[c.count++] = unpack_frame(flipped.data());
            g.intact = mid.intact;
            g.lsf_intact = mid.lsf_intact;
        }
    std::size_t best = 0;
    for (std::size_t k = 0; k < c.count; ++k) {
        c.weight[k] = chain_score(before, c.frame[k], after, check);
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
    Repair r;
    r.likeliest = mid;
    for (std::size_t h = 0; h < 2; ++h) r.db[h] = energy_for_mean(mid.energy[h]);
    r.log_f0 = std::log(pitch_hz(mid.pitch));
    r.lsf = dequantise_lsf(mid.lsf);
    // The checks cover different fields: each failed one on its own.
    for (int check = 0; check < parity_bits; ++check) {
        if (check == 0 ? mid.intact : mid.lsf_intact) continue;
        const Candidates c = candidates(before, r.likeliest, after, check);
        // The mean values of what this check covers.
        std::array<double, 2> db{};
        double log_f0 = 0.0;
        Lsf lsf{};
        for (std::size_t k = 0; k < c.count; ++k) {
            const FrameIndices& f = c.frame[k];
            for (std::size_t h = 0; h < 2; ++h) db[h] += c.weight[k] * energy_for_mean(f.energy[h]);
            log_f0 += c.weight[k] * std::log(pitch_hz(f.pitch));
            const Lsf l = dequantise_lsf(f.lsf);
            for (std::size_t i = 0; i < lpc_order; ++i) lsf[i] += c.weight[k] * l[i];
        }
        if (covers(check, FieldKind::energy)) r.db = db;
        if (covers(check, FieldKind::pitch)) r.log_f0 = log_f0;
        if (covers(check, FieldKind::lsf)) r.lsf = lsf;
        r.likeliest = c.frame[0];
    }
    for (std::size_t h = 0; h < 2; ++h) r.db[h] = energy_from_mean(r.db[h]);
    return r;
}

}  // namespace tarpo::codec
