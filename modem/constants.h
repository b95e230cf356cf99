// The modem: frame, callsign channel, modulator, demodulator, decisions, tuning, spectrum and
// acquisition, and the station that chains them. These are its constants. The angles are
// written with the precision the waveform was defined with: the oscillators and phase
// arithmetic use eight decimals (pi, two_pi), the carrier plan's steps seven (carrier_two_pi).
#pragma once

namespace tarpo::modem {

inline constexpr double pi = 3.14159265;
inline constexpr double two_pi = 6.28318531;
inline constexpr double carrier_two_pi = 6.2831853;

inline constexpr int carriers = 15;
inline constexpr int pilot_carrier = 7;
inline constexpr int voice_bits_per_frame = 54;
inline constexpr int callsign_bits_per_frame = 2;  // the callsign channel's dibit
// A received frame as the receivers hand it on: the voice bits, then the callsign dibit.
inline constexpr int rx_frame_bits = voice_bits_per_frame + callsign_bits_per_frame;
inline constexpr int samples_per_symbol_48k = 960;
inline constexpr int block_samples = 1920;  // one AudioBlock, 40 ms at 48000 Hz
// The inner rate of 2400 Hz: a symbol (20 ms) in samples, the root-raised-cosine pulse that
// spans six symbols, and the samples in one period of the 75 Hz carrier spacing (the
// demodulator's DFT length).
inline constexpr int symbol_samples_2400 = 48;
inline constexpr int pulse_taps = 6 * symbol_samples_2400;
inline constexpr int carrier_period_samples = 32;

}  // namespace tarpo::modem
