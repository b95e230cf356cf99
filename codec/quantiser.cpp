// Bit allocation of one 40 ms frame (54 bits, in transmission order; frame_fields in
// quantiser.h is the one description of the layout that packing, unpacking and everyone else
// follow). Scalar fields are Gray-coded, so that the commonest error, one flipped bit, moves
// a parameter to a neighbouring level; codebook indices are numbered by the trainer so that
// one flipped bit tends to give a near entry.
//
//   field                              bits  resolution
//   energy, first 20 ms                  5   silence + 31 levels, 2 dB apart, -66..-6 dBFS
//   energy, second 20 ms                 5   as above
//   energy at 10 ms and at 30 ms       1+1   trained offset from the mean of its neighbours
//   pitch at the frame's end             6   64 levels, log-spaced 50..400 Hz (3.4 % apart)
//   voicing, first and second 20 ms    1+1   unvoiced, or harmonic up to 3.3 kHz
//   envelope at the frame's end         22   line spectral frequencies 1-3, 4-6 and 7-10:
//                                            vector codebooks of 8, 8 and 6 bits
//   envelope at the frame's middle       8   offsets from the mean of the neighbouring ends,
//                                            frequencies 1-5 and 6-10: codebooks of 4 and 4 bits
//   parity                               4   over the top bits of energy and pitch, the
//                                            10/30 ms offsets, the voicing and end
//                                            codebooks 1 and 2
//                                      ----
//                                       54
//
// The envelope is sent twice per frame and energy four times, since intelligibility depends
// on how fast both follow speech; all tables are trained on recorded speech
// (codec/tables/lsf_tables.h, made by bench/codec/lsf_train).
#include "codec/quantiser.h"

#include <algorithm>
#include <cmath>

#include "codec/tables/lsf_tables.h"

namespace tarpo::codec {

namespace {

constexpr int energy_levels = 1 << energy_bits;
constexpr double energy_step = (energy_max_db - energy_min_db) / (energy_levels - 2);
constexpr int pitch_levels = 1 << pitch_bits;

// A split vector quantiser: codebooks (Hz, entry after entry) of the groups of frequencies
// first[g]..first[g+1]-1, each with up to 2^bits[g] entries.
template <std::size_t G>
struct SplitVq {
    const std::array<std::span<const double>, G>& books;
    const std::array<std::size_t, G + 1>& first;
    const std::array<int, G>& bits;

    std::size_t group(std::size_t i) const {
        std::size_t g = 0;
        while (g + 1 < G && i >= first[g + 1]) ++g;
        return g;
    }
    std::size_t dims(std::size_t g) const { return first[g + 1] - first[g]; }
    // The codebook's own size (the same as the bits unless the tables are being retrained).
    std::size_t entries(std::size_t g) const {
        return std::min(std::size_t{1} << bits[g], books[g].size() / dims(g));
    }
    double value(std::size_t i, int index) const {  // radians
        i = std::min(i, lpc_order - 1);
        const std::size_t g = group(i);
        const auto top = static_cast<int>(entries(g)) - 1;
        const auto k = static_cast<std::size_t>(std::clamp(index, 0, top));
        return books[g][k * dims(g) + i - first[g]] * (2.0 * pi / sample_rate);
    }
    // The entries nearest to target (radians) in each group, each frequency's error weighted.
    std::array<int, G> nearest(const Lsf& target, const Lsf& weight) const {
        const auto few = nearest_few<1>(target, weight);
        std::array<int, G> idx{};
        for (std::size_t g = 0; g < G; ++g) idx[g] = few[g][0];
        return idx;
    }
    // The N nearest, nearest first.
    template <std::size_t N>
    std::array<std::array<int, N>, G> nearest_few(const Lsf& target, const Lsf& weight) const {
        std::array<std::array<int, N>, G> idx{};
        for (std::size_t g = 0; g < G; ++g) {
            std::array<double, N> best_d{};
            best_d.fill(INFINITY);
            for (std::size_t k = 0; k < entries(g); ++k) {
                double d = 0.0;
                for (std::size_t i = first[g]; i < first[g + 1]; ++i) {
                    const double e = target[i] - value(i, static_cast<int>(k));
                    d += weight[i] * e * e;
                }
                std::size_t at = N;
                while (at > 0 && d < best_d[at - 1]) --at;
                if (at == N) continue;
                for (std::size_t j = N - 1; j > at; --j) {
                    best_d[j] = best_d[j - 1];
                    idx[g][j] = idx[g][j - 1];
                }
                best_d[at] = d;
                idx[g][at] = static_cast<int>(k);
            }
        }
        return idx;
    }
};

// Errors count more where neighbouring frequencies are close, i.e. at the formant peaks.
Lsf peak_weights(const Lsf& lsf) {
    Lsf w{};
    for (std::size_t i = 0; i < lpc_order; ++i) {
        const double below = lsf[i] - (i ? lsf[i - 1] : 0.0);
        const double above = (i + 1 < lpc_order ? lsf[i + 1] : pi) - lsf[i];
        w[i] = 1.0 / std::max(below, 0.01) + 1.0 / std::max(above, 0.01);
    }
    return w;
}

const SplitVq<lsf_groups> end_vq{lsf_codebooks, lsf_first, lsf_bits};
const SplitVq<lsf_mid_groups> mid_vq{lsf_mid_codebooks, lsf_mid_first, lsf_mid_bits};

// Gray code unless plain: for codebook indices, which their trainer numbers.
void put(std::uint8_t* bits, std::size_t& pos, unsigned value, int n, bool plain = false) {
    const unsigned g = plain ? value : gray_encode(value);
    for (int b = n - 1; b >= 0; --b) bits[pos++] = static_cast<std::uint8_t>((g >> b) & 1u);
}

int get(const std::uint8_t* bits, std::size_t& pos, int n, bool plain = false) {
    unsigned g = 0;
    for (int b = 0; b < n; ++b) g = (g << 1) | (bits[pos++] & 1u);
    return static_cast<int>(plain ? g : gray_decode(g));
}

}  // namespace

int& field_index(FrameIndices& f, const Field& field) {
    const auto slot = static_cast<std::size_t>(field.slot);
    switch (field.kind) {
        case FieldKind::energy:
            return f.energy[slot];
        case FieldKind::energy_mid:
            return f.energy_mid[slot];
        case FieldKind::voicing:
            return f.voiced[slot];
        case FieldKind::pitch:
            return f.pitch;
        case FieldKind::lsf:
            return f.lsf[slot];
        default:
            return f.lsf_mid[slot];
    }
}

int field_index(const FrameIndices& f, const Field& field) {
    return field_index(const_cast<FrameIndices&>(f), field);
}

unsigned gray_decode(unsigned g) {
    unsigned i = g;
    for (unsigned s = g >> 1; s != 0; s >>= 1) i ^= s;
    return i;
}

int energy_index(double db) {
    if (!(db >= energy_min_db - 0.5 * energy_step)) return 0;  // also catches NaN
    const int i = 1 + static_cast<int>(std::lround((db - energy_min_db) / energy_step));
    return std::clamp(i, 1, energy_levels - 1);
}

double energy_db(int index) {
    if (index <= 0) return -INFINITY;
    return energy_min_db + energy_step * (std::min(index, energy_levels - 1) - 1);
}

int energy_mid_index(double offset_db) {
    int best = 0;
    for (std::size_t k = 1; k < energy_mid_levels.size(); ++k)
        if (std::abs(energy_mid_levels[k] - offset_db) <
            std::abs(energy_mid_levels[static_cast<std::size_t>(best)] - offset_db))
            best = static_cast<int>(k);
    return best;
}

double energy_mid_db(int index) {
    const int top = static_cast<int>(energy_mid_levels.size()) - 1;
    return energy_mid_levels[static_cast<std::size_t>(std::clamp(index, 0, top))];
}

double energy_between(double db_before, double db_after, int mid_index) {
    auto rms = [](double db) { return std::isfinite(db) ? std::pow(10.0, db / 20.0) : 0.0; };
    const double mean = 0.5 * (rms(db_before) + rms(db_after));
    return mid_index < 0 ? mean : mean * std::pow(10.0, energy_mid_db(mid_index) / 20.0);
}

int pitch_index(double hz) {
    if (!(hz > pitch_min)) return 0;
    const double t = std::log(hz / pitch_min) / std::log(pitch_max / pitch_min);
    return std::clamp(static_cast<int>(std::lround(t * (pitch_levels - 1))), 0, pitch_levels - 1);
}

double voicing_cutoff_hz(int level) {
    return level > 0 ? voiced_cutoff_hz : 0.0;
}

double pitch_hz(int index) {
    const double t =
        static_cast<double>(std::clamp(index, 0, pitch_levels - 1)) / (pitch_levels - 1);
    return pitch_min * std::pow(pitch_max / pitch_min, t);
}

double lsf_value(std::size_t i, int index) {
    return end_vq.value(i, index);
}

std::size_t lsf_entries(std::size_t group) {
    return end_vq.entries(std::min(group, lsf_groups - 1));
}

std::array<int, lsf_groups> quantise_lsf(const Lsf& lsf) {
    return end_vq.nearest(lsf, peak_weights(lsf));
}

LsfShortlist lsf_shortlist(const Lsf& lsf) {
    return end_vq.nearest_few<lsf_shortlist_size>(lsf, peak_weights(lsf));
}

double lsf_distance(const Lsf& target, const Lsf& value) {
    const Lsf w = peak_weights(target);
    double d = 0.0;
    for (std::size_t i = 0; i < lpc_order; ++i)
        d += w[i] * (target[i] - value[i]) * (target[i] - value[i]);
    return d;
}

Lsf dequantise_lsf(const std::array<int, lsf_groups>& idx) {
    Lsf l{};
    for (std::size_t i = 0; i < lpc_order; ++i) l[i] = end_vq.value(i, idx[end_vq.group(i)]);
    return l;
}

double lsf_mid_value(std::size_t i, int index) {
    return mid_vq.value(i, index);
}

std::size_t lsf_mid_entries(std::size_t group) {
    return mid_vq.entries(std::min(group, lsf_mid_groups - 1));
}

std::array<int, lsf_mid_groups> quantise_lsf_mid(const Lsf& mid, const Lsf& before,
                                                 const Lsf& after) {
    Lsf offset{};
    for (std::size_t i = 0; i < lpc_order; ++i) offset[i] = mid[i] - 0.5 * (before[i] + after[i]);
    return mid_vq.nearest(offset, peak_weights(mid));
}

Lsf lsf_mid_offsets(const std::array<int, lsf_mid_groups>& idx) {
    Lsf o{};
    for (std::size_t i = 0; i < lpc_order; ++i) o[i] = mid_vq.value(i, idx[mid_vq.group(i)]);
    return o;
}

Lsf lsf_mid_from_offsets(const Lsf& offset, const Lsf& before, const Lsf& after) {
    Lsf l{};
    for (std::size_t i = 0; i < lpc_order; ++i) l[i] = 0.5 * (before[i] + after[i]) + offset[i];
    return l;
}

Lsf dequantise_lsf_mid(const std::array<int, lsf_mid_groups>& idx, const Lsf& before,
                       const Lsf& after) {
    return lsf_mid_from_offsets(lsf_mid_offsets(idx), before, after);
}

namespace {

unsigned parity(const std::uint8_t* bits, int check) {
    unsigned p = 0;
    for (const Field& f : frame_fields)
        for (int b = 0; b < f.bits; ++b)
            if ((f.column[static_cast<std::size_t>(b)] >> check) & 1u)
                p ^= bits[static_cast<std::size_t>(f.first_bit + b)] & 1u;
    return p;
}

}  // namespace

void pack_frame(const FrameIndices& f, std::uint8_t* bits) {
    std::size_t pos = 0;
    for (const Field& field : frame_fields)
        put(bits, pos, static_cast<unsigned>(field_index(f, field)), field.bits, !field.gray);
    for (int k = 0; k < parity_bits; ++k)
        bits[parity_position + k] = static_cast<std::uint8_t>(parity(bits, k));
}

FrameIndices unpack_frame(const std::uint8_t* bits) {
    FrameIndices f;
    std::size_t pos = 0;
    for (const Field& field : frame_fields)
        field_index(f, field) = get(bits, pos, field.bits, !field.gray);
    for (int k = 0; k < parity_bits; ++k)
        if ((bits[parity_position + static_cast<std::size_t>(k)] & 1u) != parity(bits, k))
            f.syndrome |= 1u << k;
    return f;
}

}  // namespace tarpo::codec
