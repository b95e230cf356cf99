// codec/: our 1350 bit/s speech codec, 320 samples to 54 bits and back, with its soft decoder.
// It stands on the first floor and includes only codec/, external/ and dsp/.
// Design constants shared by the encoder and the decoder of TARPO's 1350 bit/s speech codec.
#pragma once

#include <cstddef>

namespace tarpo::codec {

inline constexpr double sample_rate = 8000.0;      // Hz
inline constexpr std::size_t frame_samples = 320;  // 40 ms
inline constexpr std::size_t frame_bits = 54;
// Parameters are rebuilt at four points per frame, one every 10 ms; the decoder crossfades
// between neighbouring points.
inline constexpr std::size_t hop = 80;
inline constexpr std::size_t points_per_frame = frame_samples / hop;
inline constexpr std::size_t lpc_order = 10;

// Pitch range, Hz. 50 Hz covers deep male voices, 400 Hz children and high female voices.
inline constexpr double pitch_min = 50.0;
inline constexpr double pitch_max = 400.0;

// Frame energy is the RMS level of a 20 ms window in dBFS (0 dBFS = RMS of 32768). Index 0 is
// silence; indices 1..31 cover energy_min_db..energy_max_db uniformly.
inline constexpr double energy_min_db = -66.0;
inline constexpr double energy_max_db = -6.0;

inline constexpr double pi = 3.14159265358979323846;

}  // namespace tarpo::codec
