// Objective speech-quality measures used by the codec benchmark and tests: short-time
// objective intelligibility (STOI), mel-cepstral distortion, and alignment of a decoded
// signal to its input by their energy envelopes. Not real-time code: these allocate.
#ifndef TARPO_BENCH_QUALITY_QUALITY_H
#define TARPO_BENCH_QUALITY_QUALITY_H

#include <cstddef>
#include <span>
#include <vector>

namespace tarpo::quality {

// Band-limited resampling (libsamplerate's best sinc converter). Rates in Hz.
std::vector<double> resample(std::span<const double> x, double from_hz, double to_hz);

// Short-time objective intelligibility of processed against clean speech, both at rate fs
// and already time-aligned; about 0..1, higher is more intelligible. Follows Taal et al.
// (2011): 10 kHz, silent frames (40 dB below the loudest) removed, 15 one-third octave bands
// from 150 Hz, 384 ms segments, clipping at -15 dB signal-to-distortion. Returns 0 when the
// clean signal is too short for one segment.
double stoi(std::span<const double> clean, std::span<const double> processed, double fs);

// Mean mel-cepstral distortion in dB between time-aligned signals at rate fs: 25 ms frames
// every 10 ms, 24 mel bands up to fs/2, cepstral coefficients 1..12 of the log amplitudes
// (c0, the level, is left out), (10/ln 10) sqrt(2 sum dc^2), averaged over the frames where
// the reference is within 40 dB of its loudest frame.
double mel_cepstral_distortion(std::span<const double> reference, std::span<const double> test,
                               double fs);

// WARP-Q (Jassim et al., 2021) of degraded against reference speech, both at rate fs: MFCCs
// (32 ms frames, 4 ms hop, 12 coefficients, liftering 3, mel bands up to 4 kHz) of the speech
// frames of each, normalised over 201-frame windows; each 0.4 s patch of the degraded
// sequence (half-overlapping) is aligned to the reference by subsequence dynamic time
// warping; the median cost per patch frame. 0 for identical signals, lower is better; a raw
// cost, comparable between codecs on the same inputs only. NaN when degraded has less than
// one patch of speech. Need not be aligned.
double warp_q(std::span<const double> reference, std::span<const double> degraded, double fs);

// High-band periodicity of decoded against original speech (time-aligned, rate fs): over the
// original's voiced frames (low-band autocorrelation peak >= 0.6, within 10 dB of the clip's
// RMS), the mean normalised autocorrelation of the 2.5-3.8 kHz band at the original's pitch
// lag (best of +-2 samples), decoded over original. 1 is as periodic as the original; above
// 1 is buzz. NaN when the original has no voiced frame.
double high_band_periodicity(std::span<const double> original, std::span<const double> decoded,
                             double fs);

// Delay in samples (0..max_delay) by which test lags reference, found as the peak of the
// normalised cross-correlation of their log energy envelopes (10 ms windows, 0.5 ms steps
// at 8 kHz).
std::size_t envelope_delay(std::span<const double> reference, std::span<const double> test,
                           std::size_t max_delay);

// test shifted earlier by delay samples and both cut to the same length.
void align(std::vector<double>& reference, std::vector<double>& test, std::size_t delay);

}  // namespace tarpo::quality

#endif
