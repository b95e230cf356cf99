// Bit allocation of one 40 ms frame (54 bits, in transmission order; each field but the
// voicing is sent most significant bit first as a Gray code, so that the commonest error, one
// flipped bit, moves a parameter to a neighbouring level more often than in plain binary):
//
//   field                       bits  resolution
//   energy, first 20 ms           5   silence + 31 levels, 2 dB apart, -66..-6 dBFS
//   energy, second 20 ms          5   as above
//   pitch at the frame's end      7   128 levels, log-spaced 50..400 Hz (1.65 % apart)
//   voicing, first 20 ms          2   unvoiced, or harmonic up to 1, 2 or 4 kHz and noise above
//   voicing, second 20 ms         2   as above
//   line spectral frequencies    32   10 scalar quantisers of 3,4,4,4,3,3,3,3,3,2 bits,
//                                     trained on recorded speech (codec/lsf_tables.h)
//   parity                        1   even parity over the three most significant bits of
//                                     each energy, the four of the pitch and the voicing
//                               ----
//                                54
//
// The spectral envelope is sent once per frame and interpolated between frames; energy and
// voicing, to which intelligibility is most sensitive in time, are sent every 20 ms.
#include "codec/quantiser.h"

#include <algorithm>
#include <cmath>

#include "codec/lsf_tables.h"

namespace tarpo::codec {

namespace {

constexpr int energy_levels = 1 << energy_bits;
constexpr double energy_step = (energy_max_db - energy_min_db) / (energy_levels - 2);
constexpr int pitch_levels = 1 << pitch_bits;

std::span<const double> lsf_table(std::size_t i) {
    switch (i) {
        case 0:
            return lsf_levels_0;
        case 1:
            return lsf_levels_1;
        case 2:
            return lsf_levels_2;
        case 3:
            return lsf_levels_3;
        case 4:
            return lsf_levels_4;
        case 5:
            return lsf_levels_5;
        case 6:
            return lsf_levels_6;
        case 7:
            return lsf_levels_7;
        case 8:
            return lsf_levels_8;
        default:
            return lsf_levels_9;
    }
}

constexpr double rad_per_hz = 2.0 * pi / sample_rate;

// Gray code unless plain: for the voicing level, where the cyclic Gray code would make
// unvoiced and the highest level neighbours.
void put(std::span<std::uint8_t, frame_bits> bits, std::size_t& pos, unsigned value, int n,
         bool plain = false) {
    const unsigned g = plain ? value : gray_encode(value);
    for (int b = n - 1; b >= 0; --b) bits[pos++] = static_cast<std::uint8_t>((g >> b) & 1u);
}

int get(std::span<const std::uint8_t, frame_bits> bits, std::size_t& pos, int n,
        bool plain = false) {
    unsigned g = 0;
    for (int b = 0; b < n; ++b) g = (g << 1) | (bits[pos++] & 1u);
    return static_cast<int>(plain ? g : gray_decode(g));
}

}  // namespace

unsigned gray_encode(unsigned i) {
    return i ^ (i >> 1);
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

int pitch_index(double hz) {
    if (!(hz > pitch_min)) return 0;
    const double t = std::log(hz / pitch_min) / std::log(pitch_max / pitch_min);
    return std::clamp(static_cast<int>(std::lround(t * (pitch_levels - 1))), 0, pitch_levels - 1);
}

double voicing_cutoff_hz(int level) {
    constexpr std::array<double, voicing_levels> cutoff = {0.0, 1000.0, 2000.0, 4000.0};
    return cutoff[static_cast<std::size_t>(std::clamp(level, 0, voicing_levels - 1))];
}

double pitch_hz(int index) {
    const double t =
        static_cast<double>(std::clamp(index, 0, pitch_levels - 1)) / (pitch_levels - 1);
    return pitch_min * std::pow(pitch_max / pitch_min, t);
}

std::size_t lsf_levels(std::size_t i) {
    return lsf_table(i).size();
}

int lsf_index(std::size_t i, double w) {
    const auto t = lsf_table(i);
    const double hz = w / rad_per_hz;
    int best = 0;
    double best_d = INFINITY;
    for (std::size_t k = 0; k < t.size(); ++k) {
        const double d = std::abs(t[k] - hz);
        if (d < best_d) {
            best_d = d;
            best = static_cast<int>(k);
        }
    }
    return best;
}

double lsf_value(std::size_t i, int index) {
    const auto t = lsf_table(i);
    const auto k = static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(t.size()) - 1));
    return t[k] * rad_per_hz;
}

std::array<int, lpc_order> quantise_lsf(const Lsf& lsf) {
    std::array<int, lpc_order> idx{};
    for (std::size_t i = 0; i < lpc_order; ++i) idx[i] = lsf_index(i, lsf[i]);
    return idx;
}

Lsf dequantise_lsf(const std::array<int, lpc_order>& idx) {
    Lsf l{};
    for (std::size_t i = 0; i < lpc_order; ++i) l[i] = lsf_value(i, idx[i]);
    return l;
}

namespace {

// Positions of the bits the parity covers: energy 0..2 and 5..7, pitch 10..13, voicing 17..20.
constexpr std::array<std::size_t, 14> parity_covered = {0,  1,  2,  5,  6,  7,  10,
                                                        11, 12, 13, 17, 18, 19, 20};

unsigned parity(std::span<const std::uint8_t, frame_bits> bits) {
    unsigned p = 0;
    for (const std::size_t i : parity_covered) p ^= bits[i] & 1u;
    return p;
}

}  // namespace

void pack_frame(const FrameIndices& f, std::span<std::uint8_t, frame_bits> bits) {
    std::size_t pos = 0;
    put(bits, pos, static_cast<unsigned>(f.energy[0]), energy_bits);
    put(bits, pos, static_cast<unsigned>(f.energy[1]), energy_bits);
    put(bits, pos, static_cast<unsigned>(f.pitch), pitch_bits);
    put(bits, pos, static_cast<unsigned>(f.voiced[0]), voicing_bits, true);
    put(bits, pos, static_cast<unsigned>(f.voiced[1]), voicing_bits, true);
    for (std::size_t i = 0; i < lpc_order; ++i)
        put(bits, pos, static_cast<unsigned>(f.lsf[i]), lsf_bits[i]);
    bits[pos] = static_cast<std::uint8_t>(parity(bits));
}

FrameIndices unpack_frame(std::span<const std::uint8_t, frame_bits> bits) {
    FrameIndices f;
    std::size_t pos = 0;
    f.energy[0] = get(bits, pos, energy_bits);
    f.energy[1] = get(bits, pos, energy_bits);
    f.pitch = get(bits, pos, pitch_bits);
    f.voiced[0] = get(bits, pos, voicing_bits, true);
    f.voiced[1] = get(bits, pos, voicing_bits, true);
    for (std::size_t i = 0; i < lpc_order; ++i) f.lsf[i] = get(bits, pos, lsf_bits[i]);
    f.intact = (bits[pos] & 1u) == parity(bits);
    return f;
}

}  // namespace tarpo::codec
