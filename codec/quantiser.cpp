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

constexpr int kEnergyLevels = 1 << kEnergyBits;
constexpr double kEnergyStep = (kEnergyMaxDb - kEnergyMinDb) / (kEnergyLevels - 2);
constexpr int kPitchLevels = 1 << kPitchBits;

// Quantiser levels for each line spectral frequency, Hz. Each set spans the range in which
// that frequency lies for most speech frames of a 10th-order analysis of pre-emphasised
// 8 kHz speech; the spacing follows how densely the values cluster.
constexpr std::array<double, 8> kLsf0 = {150, 220, 290, 360, 440, 530, 640, 780};
constexpr std::array<double, 16> kLsf1 = {250, 310, 370, 430, 490,  550,  610,  670,
                                          740, 810, 880, 960, 1040, 1130, 1230, 1350};
constexpr std::array<double, 16> kLsf2 = {450,  530,  610,  690,  770,  850,  930,  1010,
                                          1090, 1170, 1250, 1330, 1420, 1520, 1630, 1760};
constexpr std::array<double, 16> kLsf3 = {750,  840,  930,  1020, 1110, 1200, 1290, 1380,
                                          1470, 1560, 1650, 1740, 1840, 1950, 2070, 2200};
constexpr std::array<double, 16> kLsf4 = {1050, 1140, 1230, 1320, 1410, 1500, 1590, 1680,
                                          1770, 1860, 1950, 2040, 2130, 2230, 2340, 2460};
constexpr std::array<double, 16> kLsf5 = {1350, 1440, 1530, 1620, 1710, 1800, 1890, 1980,
                                          2070, 2160, 2250, 2340, 2430, 2530, 2640, 2760};
constexpr std::array<double, 8> kLsf6 = {1750, 1900, 2050, 2200, 2350, 2500, 2650, 2820};
constexpr std::array<double, 8> kLsf7 = {2050, 2200, 2350, 2500, 2650, 2800, 2950, 3120};
constexpr std::array<double, 8> kLsf8 = {2400, 2550, 2700, 2850, 3000, 3150, 3300, 3450};
constexpr std::array<double, 8> kLsf9 = {2850, 2980, 3110, 3240, 3370, 3500, 3630, 3760};

std::span<const double> lsf_table(std::size_t i) {
    switch (i) {
        case 0:
            return kLsf0;
        case 1:
            return kLsf1;
        case 2:
            return kLsf2;
        case 3:
            return kLsf3;
        case 4:
            return kLsf4;
        case 5:
            return kLsf5;
        case 6:
            return kLsf6;
        case 7:
            return kLsf7;
        case 8:
            return kLsf8;
        default:
            return kLsf9;
    }
}

constexpr double kRadPerHz = 2.0 * kPi / kSampleRate;

void put(std::span<std::uint8_t, kFrameBits> bits, std::size_t& pos, unsigned value, int n) {
    const unsigned g = gray_encode(value);
    for (int b = n - 1; b >= 0; --b) bits[pos++] = static_cast<std::uint8_t>((g >> b) & 1u);
}

int get(std::span<const std::uint8_t, kFrameBits> bits, std::size_t& pos, int n) {
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
    if (!(db >= kEnergyMinDb - 0.5 * kEnergyStep)) return 0;  // also catches NaN
    const int i = 1 + static_cast<int>(std::lround((db - kEnergyMinDb) / kEnergyStep));
    return std::clamp(i, 1, kEnergyLevels - 1);
}

double energy_db(int index) {
    if (index <= 0) return -INFINITY;
    return kEnergyMinDb + kEnergyStep * (std::min(index, kEnergyLevels - 1) - 1);
}

int pitch_index(double hz) {
    if (!(hz > kPitchMin)) return 0;
    const double t = std::log(hz / kPitchMin) / std::log(kPitchMax / kPitchMin);
    return std::clamp(static_cast<int>(std::lround(t * (kPitchLevels - 1))), 0, kPitchLevels - 1);
}

double pitch_hz(int index) {
    const double t =
        static_cast<double>(std::clamp(index, 0, kPitchLevels - 1)) / (kPitchLevels - 1);
    return kPitchMin * std::pow(kPitchMax / kPitchMin, t);
}

std::size_t lsf_levels(std::size_t i) {
    return lsf_table(i).size();
}

int lsf_index(std::size_t i, double w) {
    const auto t = lsf_table(i);
    const double hz = w / kRadPerHz;
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
    return t[k] * kRadPerHz;
}

std::array<int, kLpcOrder> quantise_lsf(const Lsf& lsf) {
    std::array<int, kLpcOrder> idx{};
    for (std::size_t i = 0; i < kLpcOrder; ++i) idx[i] = lsf_index(i, lsf[i]);
    return idx;
}

Lsf dequantise_lsf(const std::array<int, kLpcOrder>& idx) {
    Lsf l{};
    for (std::size_t i = 0; i < kLpcOrder; ++i) l[i] = lsf_value(i, idx[i]);
    return l;
}

void pack_frame(const FrameIndices& f, std::span<std::uint8_t, kFrameBits> bits) {
    std::size_t pos = 0;
    put(bits, pos, static_cast<unsigned>(f.energy[0]), kEnergyBits);
    put(bits, pos, static_cast<unsigned>(f.energy[1]), kEnergyBits);
    put(bits, pos, static_cast<unsigned>(f.pitch), kPitchBits);
    put(bits, pos, static_cast<unsigned>(f.voiced[0]), kVoicingBits);
    put(bits, pos, static_cast<unsigned>(f.voiced[1]), kVoicingBits);
    for (std::size_t i = 0; i < kLpcOrder; ++i)
        put(bits, pos, static_cast<unsigned>(f.lsf[i]), kLsfBits[i]);
}

FrameIndices unpack_frame(std::span<const std::uint8_t, kFrameBits> bits) {
    FrameIndices f;
    std::size_t pos = 0;
    f.energy[0] = get(bits, pos, kEnergyBits);
    f.energy[1] = get(bits, pos, kEnergyBits);
    f.pitch = get(bits, pos, kPitchBits);
    f.voiced[0] = get(bits, pos, kVoicingBits);
    f.voiced[1] = get(bits, pos, kVoicingBits);
    for (std::size_t i = 0; i < kLpcOrder; ++i) f.lsf[i] = get(bits, pos, kLsfBits[i]);
    return f;
}

}  // namespace tarpo::codec
