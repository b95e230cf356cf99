// Design constants shared by the encoder and the decoder of TARPO's 1350 bit/s speech codec.
#ifndef TARPO_CODEC_CONSTANTS_H
#define TARPO_CODEC_CONSTANTS_H

#include <cstddef>

namespace tarpo::codec {

inline constexpr double kSampleRate = 8000.0;      // Hz
inline constexpr std::size_t kFrameSamples = 320;  // 40 ms
inline constexpr std::size_t kFrameBits = 54;
// Parameters are rebuilt at four points per frame, one every 10 ms; the decoder crossfades
// between neighbouring points.
inline constexpr std::size_t kHop = 80;
inline constexpr std::size_t kPointsPerFrame = kFrameSamples / kHop;
inline constexpr std::size_t kLpcOrder = 10;

// Pitch range, Hz. 50 Hz covers deep male voices, 400 Hz children and high female voices.
inline constexpr double kPitchMin = 50.0;
inline constexpr double kPitchMax = 400.0;

// Frame energy is the RMS level of a 20 ms window in dBFS (0 dBFS = RMS of 32768). Index 0 is
// silence; indices 1..31 cover kEnergyMinDb..kEnergyMaxDb uniformly.
inline constexpr double kEnergyMinDb = -66.0;
inline constexpr double kEnergyMaxDb = -6.0;

inline constexpr double kPi = 3.14159265358979323846;

}  // namespace tarpo::codec

#endif
