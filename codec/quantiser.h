// Scalar quantisers of the codec's parameters and the packing of their indices into the
// 54-bit frame.
#ifndef TARPO_CODEC_QUANTISER_H
#define TARPO_CODEC_QUANTISER_H

#include <array>
#include <cstdint>
#include <span>

#include "codec/constants.h"
#include "codec/lpc.h"

namespace tarpo::codec {

inline constexpr int energy_bits = 5;
inline constexpr int pitch_bits = 7;
inline constexpr int voicing_bits = 2;  // per 20 ms half frame
inline constexpr std::array<int, lpc_order> lsf_bits = {3, 4, 4, 4, 3, 3, 3, 3, 3, 2};
// One parity bit, the frame's last, over the bits whose errors do the most harm.
inline constexpr int parity_bits = 1;

constexpr int lsf_bits_total() {
    int s = 0;
    for (const int b : lsf_bits) s += b;
    return s;
}
static_assert(2 * energy_bits + pitch_bits + 2 * voicing_bits + lsf_bits_total() + parity_bits ==
                  static_cast<int>(frame_bits),
              "the fields fill the frame exactly");

// The quantiser indices of one frame. Half frame 0 is the first 20 ms, half frame 1 the
// second; the pitch and the line spectral frequencies belong to the frame's end.
struct FrameIndices {
    std::array<int, 2> energy{};       // 0..31, 0 = silence
    int pitch = 0;                     // 0..127, log-spaced pitch_min..pitch_max
    std::array<int, 2> voiced{};       // 0 unvoiced, 1..3 harmonic up to voicing_cutoff_hz
    std::array<int, lpc_order> lsf{};  // 0..2^lsf_bits[i]-1, rising frequency
    // On receipt: false when the parity check over the energy, pitch and voicing fails.
    bool intact = true;
    bool operator==(const FrameIndices&) const = default;
};

unsigned gray_encode(unsigned i);
unsigned gray_decode(unsigned g);

// Frame energy, dBFS (see energy_min_db). Below the lowest level by more than half a step is
// index 0, silence, which the decoder plays as digital zero.
int energy_index(double db);
// Level of an index in dBFS; index 0 gives -infinity.
double energy_db(int index);

// Voicing levels: 0 is unvoiced; a voiced level is harmonic up to this frequency and noise
// above it.
inline constexpr int voicing_levels = 1 << voicing_bits;
double voicing_cutoff_hz(int level);

int pitch_index(double hz);
double pitch_hz(int index);

// Line spectral frequency number i (0..9) in radians per sample.
int lsf_index(std::size_t i, double w);
double lsf_value(std::size_t i, int index);
std::size_t lsf_levels(std::size_t i);

// Nearest index for each frequency of a set.
std::array<int, lpc_order> quantise_lsf(const Lsf& lsf);
Lsf dequantise_lsf(const std::array<int, lpc_order>& idx);

// bits: frame_bits bytes, one bit each in bit 0, in transmission order.
void pack_frame(const FrameIndices& f, std::span<std::uint8_t, frame_bits> bits);
// Only bit 0 of each byte counts.
FrameIndices unpack_frame(std::span<const std::uint8_t, frame_bits> bits);

}  // namespace tarpo::codec

#endif
