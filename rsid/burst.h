// Timing and frequency plan of the identification burst. The waveform is defined at a
// reference rate of 11025 Hz: 16 orthogonal tones 11025/1024 Hz apart, symbols of 1024
// reference samples, 15 symbols; tone t lies at f0 + (t - 7) tone spacings.
#pragma once

namespace tarpo::rsid {

inline constexpr double reference_rate = 11025.0;  // Hz
inline constexpr int symbol_reference_samples = 1024;
inline constexpr double tone_spacing = reference_rate / symbol_reference_samples;    // 10.7666 Hz
inline constexpr double symbol_seconds = symbol_reference_samples / reference_rate;  // 92.88 ms
inline constexpr int centre_tone = 7;  // the announced frequency f0 is this tone's

// The band in which the receiver looks for bursts (the receive spectrum's band): every tone
// of a burst must lie inside it. Hence the announced frequency stays within
// [band_low + 7 spacings, band_high - 8 spacings], about 375 .. 2714 Hz.
inline constexpr double band_low = 300.0;     // Hz
inline constexpr double band_high = 2800.0;   // Hz
inline constexpr double lowest_f0 = 380.0;    // Hz, rounded inwards
inline constexpr double highest_f0 = 2710.0;  // Hz

}  // namespace tarpo::rsid
