// Bit allocation of one 40 ms frame (54 bits, in transmission order; each field is sent most
// significant bit first as a Gray code, so that the commonest error, one flipped bit, moves a
// parameter to a neighbouring level more often than in plain binary):
//
//   field                       bits  resolution
//   energy, first 20 ms           5   silence + 31 levels, 2 dB apart, -66..-6 dBFS
//   energy, second 20 ms          5   as above
//   pitch at the frame's end      7   128 levels, log-spaced 50..400 Hz (1.65 % apart)
//   voicing, first 20 ms          1   voiced / unvoiced
//   voicing, second 20 ms         1   voiced / unvoiced
//   line spectral frequencies    35   10 scalar quantisers of 3,4,4,4,4,4,3,3,3,3 bits
//                               ----
//                                54
//
// The spectral envelope is sent once per frame and interpolated between frames; energy and
// voicing, to which intelligibility is most sensitive in time, are sent every 20 ms.
#include "codec/quantiser.h"

#include <algorithm>
#include <cmath>

namespace tarpo::codec {

namespace {

constexpr int energy_levels = 1 << energy_bits;
constexpr double energy_step = (energy_max_db - energy_min_db) / (energy_levels - 2);
constexpr int pitch_levels = 1 << pitch_bits;

// Quantiser levels for each line spectral frequency, Hz. Each set spans the range in which
// that frequency lies for most speech frames of a 10th-order analysis of pre-emphasised
// 8 kHz speech; the spacing follows how densely the values cluster.
constexpr std::array<double, 8> lsf0 = {150, 220, 290, 360, 440, 530, 640, 780};
constexpr std::array<double, 16> lsf1 = {250, 310, 370, 430, 490,  550,  610,  670,
                                         740, 810, 880, 960, 1040, 1130, 1230, 1350};
constexpr std::array<double, 16> lsf2 = {450,  530,  610,  690,  770,  850,  930,  1010,
                                         1090, 1170, 1250, 1330, 1420, 1520, 1630, 1760};
constexpr std::array<double, 16> lsf3 = {750,  840,  930,  1020, 1110, 1200, 1290, 1380,
                                         1470, 1560, 1650, 1740, 1840, 1950, 2070, 2200};
constexpr std::array<double, 16> lsf4 = {1050, 1140, 1230, 1320, 1410, 1500, 1590, 1680,
                                         1770, 1860, 1950, 2040, 2130, 2230, 2340, 2460};
constexpr std::array<double, 16> lsf5 = {1350, 1440, 1530, 1620, 1710, 1800, 1890, 1980,
                                         2070, 2160, 2250, 2340, 2430, 2530, 2640, 2760};
constexpr std::array<double, 8> lsf6 = {1750, 1900, 2050, 2200, 2350, 2500, 2650, 2820};
constexpr std::array<double, 8> lsf7 = {2050, 2200, 2350, 2500, 2650, 2800, 2950, 3120};
constexpr std::array<double, 8> lsf8 = {2400, 2550, 2700, 2850, 3000, 3150, 3300, 3450};
constexpr std::array<double, 8> lsf9 = {2850, 2980, 3110, 3240, 3370, 3500, 3630, 3760};

std::span<const double> lsf_table(std::size_t i) {
    switch (i) {
        case 0:
            return lsf0;
        case 1:
            return lsf1;
        case 2:
            return lsf2;
        case 3:
            return lsf3;
        case 4:
            return lsf4;
        case 5:
            return lsf5;
        case 6:
            return lsf6;
        case 7:
            return lsf7;
        case 8:
            return lsf8;
        default:
            return lsf9;
    }
}

constexpr double rad_per_hz = 2.0 * pi / sample_rate;

void put(std::span<std::uint8_t, frame_bits> bits, std::size_t& pos, unsigned value, int n) {
    const unsigned g = gray_encode(value);
    for (int b = n - 1; b >= 0; --b) bits[pos++] = static_cast<std::uint8_t>((g >> b) & 1u);
}

int get(std::span<const std::uint8_t, frame_bits> bits, std::size_t& pos, int n) {
    unsigned g = 0;
    for (int b = 0; b < n; ++b) g = (g << 1) | (bits[pos++] & 1u);
    return static_cast<int>(gray_decode(g));
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

void pack_frame(const FrameIndices& f, std::span<std::uint8_t, frame_bits> bits) {
    std::size_t pos = 0;
    put(bits, pos, static_cast<unsigned>(f.energy[0]), energy_bits);
    put(bits, pos, static_cast<unsigned>(f.energy[1]), energy_bits);
    put(bits, pos, static_cast<unsigned>(f.pitch), pitch_bits);
    put(bits, pos, static_cast<unsigned>(f.voiced[0]), voicing_bits);
    put(bits, pos, static_cast<unsigned>(f.voiced[1]), voicing_bits);
    for (std::size_t i = 0; i < lpc_order; ++i)
        put(bits, pos, static_cast<unsigned>(f.lsf[i]), lsf_bits[i]);
}

FrameIndices unpack_frame(std::span<const std::uint8_t, frame_bits> bits) {
    FrameIndices f;
    std::size_t pos = 0;
    f.energy[0] = get(bits, pos, energy_bits);
    f.energy[1] = get(bits, pos, energy_bits);
    f.pitch = get(bits, pos, pitch_bits);
    f.voiced[0] = get(bits, pos, voicing_bits);
    f.voiced[1] = get(bits, pos, voicing_bits);
    for (std::size_t i = 0; i < lpc_order; ++i) f.lsf[i] = get(bits, pos, lsf_bits[i]);
    return f;
}

}  // namespace tarpo::codec
