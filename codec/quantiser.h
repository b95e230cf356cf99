// Scalar quantisers of the codec's parameters and the packing of their indices into the
// 54-bit frame.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "codec/codec_constants.h"
#include "codec/lpc.h"

namespace tarpo::codec {

inline constexpr int energy_bits = 5;
// Energy at the 10 ms and 30 ms instants, as an offset in dB from the mean RMS of the levels
// either side (trained levels).
inline constexpr int energy_mid_bits = 1;
inline constexpr int pitch_bits = 6;
inline constexpr int voicing_bits = 1;  // per 20 ms half frame: voiced or not
// The envelope at the frame's end: a vector quantiser for each group of neighbouring
// frequencies (the first frequency of each group, and its index bits). A group of one
// frequency is a scalar quantiser with rising levels.
inline constexpr std::size_t lsf_groups = 3;
inline constexpr std::array<std::size_t, lsf_groups + 1> lsf_first = {0, 3, 6, lpc_order};
inline constexpr std::array<int, lsf_groups> lsf_bits = {8, 8, 6};
// The envelope at the frame's middle, as the offsets of its frequencies from the mean of the
// two neighbouring end-of-frame envelopes: a vector quantiser for each group of neighbouring
// frequencies (the first frequency of each group, and its index bits).
inline constexpr std::size_t lsf_mid_groups = 2;
inline constexpr std::array<std::size_t, lsf_mid_groups + 1> lsf_mid_first = {0, 5, lpc_order};
inline constexpr std::array<int, lsf_mid_groups> lsf_mid_bits = {4, 4};
// Decoded frequencies are kept this far apart (radians; 50 Hz).
inline constexpr double lsf_min_gap = 2.0 * pi * 50.0 / sample_rate;
// Parity bits end the frame. Each covered bit has its own set of checks (its column): one
// wrong bit fails exactly the checks of its column, and as few bits as possible share a
// column, so that a failure points at one or two bits rather than at any covered one. The
// decoder repairs a frame that fails any check (repair.h).
inline constexpr int parity_bits = 4;

// The quantiser indices of one frame. Half frame 0 is the first 20 ms, half frame 1 the
// second; the pitch and the line spectral frequencies belong to the frame's end, the
// middle envelope to its centre.
struct FrameIndices {
    std::array<int, 2> energy{};                // 0..31, 0 = silence
    std::array<int, 2> energy_mid{};            // 0..2^energy_mid_bits-1, rising offset
    int pitch = 0;                              // 0..63, log-spaced pitch_min..pitch_max
    std::array<int, 2> voiced{};                // 0 unvoiced, 1 harmonic up to voicing_cutoff_hz
    std::array<int, lsf_groups> lsf{};          // 0..2^lsf_bits[g]-1, codebook entry
    std::array<int, lsf_mid_groups> lsf_mid{};  // 0..2^lsf_mid_bits[g]-1, codebook entry
    // On receipt: the checks that failed, check k as bit k (0 when the frame is intact).
    unsigned syndrome = 0;
    bool operator==(const FrameIndices&) const = default;
};

// One quantised parameter as it travels in the frame. Every field is sent most significant
// bit first, Gray-coded unless plain.
enum class FieldKind { energy, energy_mid, voicing, pitch, lsf, lsf_mid };
inline constexpr int max_field_bits = 8;
struct Field {
    FieldKind kind;
    int slot;       // half frame (energy, voicing) or the group of line spectral frequencies
    int first_bit;  // position of its most significant bit in the frame
    int bits;
    bool gray;
    // Per bit, most significant first: the checks that cover it, check k as bit k (0: none).
    std::array<unsigned, max_field_bits> column;
};

// Of a field's code (its most significant bit at bits - 1), the bits check k covers.
constexpr unsigned check_mask(const Field& f, int k) {
    unsigned m = 0;
    for (int b = 0; b < f.bits; ++b)
        if ((f.column[static_cast<std::size_t>(b)] >> k) & 1u) m |= 1u << (f.bits - 1 - b);
    return m;
}
constexpr bool checked(const Field& f) {
    for (unsigned c : f.column)
        if (c) return true;
    return false;
}

namespace detail {
// The columns in the order covered bits take them: those of two or more checks first, which
// a failure of the parity bit itself cannot imitate, then the single checks.
constexpr std::array<unsigned, (1u << parity_bits) - 1> column_order() {
    std::array<unsigned, (1u << parity_bits) - 1> order{};
    std::size_t n = 0;
    for (int weight = parity_bits; weight >= 1; --weight)
        for (unsigned c = 1; c < (1u << parity_bits); ++c)
            if (std::popcount(c) == weight) order[n++] = c;
    return order;
}

constexpr int count_fields() {
    int n = 7;
    for (std::size_t g = 0; g < lsf_groups; ++g) n += lsf_bits[g] > 0;
    for (std::size_t g = 0; g < lsf_mid_groups; ++g) n += lsf_mid_bits[g] > 0;
    return n;
}
}  // namespace detail

inline constexpr std::size_t field_count = detail::count_fields();

// How many of each field's most significant bits the checks cover. Every bit covered makes
// the repair choose among more candidates, so only those whose errors do the most harm and
// whose indices follow each other closely enough to tell a wrong one: the top three of each
// energy, the 10/30 ms offsets, the top four of the pitch, the voicing flags and the first two
// envelope codebooks, 30 bits on the 15 columns. (Covering the third codebook or the middle
// envelope too made 1 % bit errors cost more, not less.)
inline constexpr int energy_checked = 3;
inline constexpr int pitch_checked = 4;
inline constexpr std::array<int, lsf_groups> lsf_checked = {8, 8, 0};

// The frame's layout: its fields in transmission order, then the parity bits. Covered bits
// take the columns in turn, so bits that share one belong to different fields.
constexpr std::array<Field, field_count> make_frame_fields() {
    std::array<Field, field_count> f{};
    std::size_t n = 0, next_column = 0;
    int at = 0;
    constexpr auto order = detail::column_order();
    auto add = [&](FieldKind k, int slot, int bits, bool gray, int covered) {
        Field& d = f[n++] = {k, slot, at, bits, gray, {}};
        for (int b = 0; b < covered; ++b)
            d.column[static_cast<std::size_t>(b)] = order[next_column++ % order.size()];
        at += bits;
    };
    add(FieldKind::energy, 0, energy_bits, true, energy_checked);
    add(FieldKind::energy, 1, energy_bits, true, energy_checked);
    add(FieldKind::energy_mid, 0, energy_mid_bits, true, energy_mid_bits);
    add(FieldKind::energy_mid, 1, energy_mid_bits, true, energy_mid_bits);
    add(FieldKind::pitch, 0, pitch_bits, true, pitch_checked);
    add(FieldKind::voicing, 0, voicing_bits, false, voicing_bits);
    add(FieldKind::voicing, 1, voicing_bits, false, voicing_bits);
    for (std::size_t g = 0; g < lsf_groups; ++g)
        if (lsf_bits[g] > 0)
            add(FieldKind::lsf, static_cast<int>(g), lsf_bits[g],
                lsf_first[g + 1] - lsf_first[g] == 1, lsf_checked[g]);
    // Entries of a multi-dimensional codebook have no order: sent in plain binary (the trainer
    // numbers them so that one wrong bit tends to give a near entry).
    for (std::size_t g = 0; g < lsf_mid_groups; ++g)
        if (lsf_mid_bits[g] > 0)
            add(FieldKind::lsf_mid, static_cast<int>(g), lsf_mid_bits[g], false, 0);
    return f;
}
inline constexpr std::array<Field, field_count> frame_fields = make_frame_fields();
inline constexpr std::size_t parity_position = frame_bits - parity_bits;  // the first

constexpr int used_bits() {
    const Field& last = frame_fields[field_count - 1];
    return last.first_bit + last.bits + parity_bits;
}
static_assert(used_bits() == static_cast<int>(frame_bits), "the fields fill the frame exactly");

// The index a field carries.
int& field_index(FrameIndices& f, const Field& field);
int field_index(const FrameIndices& f, const Field& field);

constexpr unsigned gray_encode(unsigned i) {
    return i ^ (i >> 1);
}
unsigned gray_decode(unsigned g);

// Frame energy, dBFS (see energy_min_db). Below the lowest level by more than half a step is
// index 0, silence, which the decoder plays as digital zero.
int energy_index(double db);
// Level of an index in dBFS; index 0 gives -infinity.
double energy_db(int index);

// Offset of a 10 ms / 30 ms energy from the mean RMS of its neighbours, dB.
int energy_mid_index(double offset_db);
double energy_mid_db(int index);
// RMS (full scale 1) of the instant between two levels (dBFS; -infinity is silence); a
// negative index gives the plain mean.
double energy_between(double db_before, double db_after, int mid_index);

// Voicing levels: 0 is unvoiced; voiced is harmonic up to voiced_cutoff_hz and noise above
// it, where real speech is noisy. (A cut-off chosen per half frame from 1, 2 or 4 kHz bought
// no intelligibility for its two bits; they serve the parity checks better.)
inline constexpr int voicing_levels = 1 << voicing_bits;
inline constexpr double voiced_cutoff_hz = 3300.0;
double voicing_cutoff_hz(int level);

int pitch_index(double hz);
double pitch_hz(int index);

// The end envelope: frequency i (radians) of entry index of its group's codebook; the
// number of entries of a group; the nearest entries for a set and the set they give.
double lsf_value(std::size_t i, int index);
std::size_t lsf_entries(std::size_t group);
std::array<int, lsf_groups> quantise_lsf(const Lsf& lsf);
// Unordered: the caller repairs the set.
Lsf dequantise_lsf(const std::array<int, lsf_groups>& idx);
// The few nearest entries of each group, nearest first; and the weighted squared distance
// the quantisers minimise.
inline constexpr std::size_t lsf_shortlist_size = 4;
using LsfShortlist = std::array<std::array<int, lsf_shortlist_size>, lsf_groups>;
LsfShortlist lsf_shortlist(const Lsf& lsf);
double lsf_distance(const Lsf& target, const Lsf& value);

// The middle envelope: the offset (radians) of frequency i in entry index of its group's
// codebook, and the indices for a middle set given the quantised end-of-frame sets either
// side (before and after it).
double lsf_mid_value(std::size_t i, int index);
std::size_t lsf_mid_entries(std::size_t group);
std::array<int, lsf_mid_groups> quantise_lsf_mid(const Lsf& mid, const Lsf& before,
                                                 const Lsf& after);
// The offsets of the entries idx, per frequency.
Lsf lsf_mid_offsets(const std::array<int, lsf_mid_groups>& idx);
// The middle set from its offsets and the sets either side. Unordered: the caller repairs it.
Lsf lsf_mid_from_offsets(const Lsf& offset, const Lsf& before, const Lsf& after);
Lsf dequantise_lsf_mid(const std::array<int, lsf_mid_groups>& idx, const Lsf& before,
                       const Lsf& after);

// bits: frame_bits bytes, one bit each in bit 0, in transmission order.
void pack_frame(const FrameIndices& f, std::uint8_t* bits);
// Only bit 0 of each byte counts.
FrameIndices unpack_frame(const std::uint8_t* bits);

}  // namespace tarpo::codec
