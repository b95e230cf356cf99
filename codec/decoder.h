// The synthesis half of the codec: one 54-bit frame in, 320 samples at 8 kHz out.
//
// Parameters are rebuilt at four instants per frame (every 10 ms): the spectral envelope by
// interpolating line spectral frequencies between frames, energy and voicing from the two
// half frames, pitch gliding from the previous frame's. At each instant the envelope is
// sampled at the harmonics of the pitch (voiced band, minimum phase) and on a noise grid
// (unvoiced band); between instants the harmonics crossfade linearly on one shared phase
// track and the noise crossfades with power-complementary windows.
//
// The decoder holds one frame back: before frame n is played, frame n+1 is known. A frame
// that fails parity checks has the bits they point at set to their likeliest values between
// its neighbours (codec/repair.h); then a level or pitch which jumps away and straight back (the
// usual signature of a bit error) is replaced from its neighbours. The spectral envelope is
// left alone unless its frequencies cross: real speech moves it that fast (and one estimated
// from soft bits over several codebook entries is left alone: it weighed the neighbours).
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>

#include "codec/codec_constants.h"
#include "codec/fft.h"
#include "codec/lpc.h"
#include "codec/quantiser.h"

namespace tarpo::codec {

class Decoder {
  public:
    Decoder();

    void decode(const std::uint8_t* bits, std::int16_t* speech);
    // The same from already unpacked indices.
    void decode(const FrameIndices& f, std::int16_t* speech);

    // One frame's parameters, dequantised.
    struct Params {
        std::array<double, 2> db{-INFINITY, -INFINITY};  // energy per half, dBFS
        std::array<double, 2> mid_db{};  // offsets of the 10 ms and 30 ms energies, dB
        std::array<int, 2> voiced{};
        double f0 = 100.0;  // Hz
        std::array<int, lsf_groups> lsf_index{};
        Lsf lsf{};
        FrameIndices index{};        // as received
        bool dead = false;           // all bits equal: no signal on the channel
        unsigned syndrome = 0;       // the parity checks that failed (0: none, or settled)
        bool lsf_estimated = false;  // lsf weighs several codebook entries (soft decoding)
        // The middle envelope's offsets from the mean of its neighbours: its codebook entries',
        // or an estimate weighing several of them.
        Lsf mid_offset{};
    };
    // The seam for decoders that estimate the parameters themselves (from soft bits): the
    // values of a frame's indices; p's frequencies replaced by lsf, kept apart as every decoded
    // set is; the frame held back replaced by a better estimate of it before the next frame
    // comes; and the next frame's parameters in, frame n out.
    Params dequantise(const FrameIndices& f, bool dead) const;
    static void set_lsf(Params& p, const Lsf& lsf);
    void revise_pending(const Params& p) { pending_ = p; }
    void decode_params(const Params& next, std::int16_t* speech);

    // Output magnitude never exceeds this (about -1.4 dBFS).
    static constexpr double peak_limit = 0.85 * 32768.0;
    // Samples by which the decoder's output lags the frames it is given.
    static constexpr std::size_t delay_samples = frame_samples;

  private:
    // Replaces the parameters of mid that jump away from both neighbours and back.
    static Params smooth(const Params& before, const Params& mid, const Params& after);
    // Mends line spectral frequencies of mid that cross, from the neighbouring frames.
    static void smooth_lsf(const Params& before, const Params& after, Params& mid);
    // p with the fields under a failed parity check set to their likeliest values between
    // the frame before and next.
    Params repaired(const Params& p, const Params& next) const;
    void synthesise(const Params& p, std::int16_t* speech);

    static constexpr std::size_t max_harmonics = 80;  // 3800 Hz / 50 Hz, rounded up
    static constexpr std::size_t noise_fft = 256;
    static constexpr std::size_t noise_bins = noise_fft / 2 + 1;
    static constexpr std::size_t noise_length = 2 * hop;

    // Everything the synthesiser needs at one instant.
    struct Point {
        double f0 = 100.0;     // Hz
        double energy = 0.0;   // RMS, full scale = 1
        double voicing = 0.0;  // 0..1: share of the band that is harmonic
        std::size_t harmonics = 0;
        std::array<double, max_harmonics + 1> re{};  // harmonic h: amplitude * cos(phase)
        std::array<double, max_harmonics + 1> im{};  //             amplitude * sin(phase)
        std::array<double, noise_length> noise{};    // windowed noise centred on the instant
    };

    void build_point(const Lsf& lsf, Point& p);
    void synthesise_segment(const Point& a, const Point& b, double* out);
    double next_uniform();  // [0, 1)

    // Running state, carried from frame to frame.
    Params before_{};   // frame n-1 as received
    Params pending_{};  // frame n, to be played when frame n+1 arrives
    Lsf lsf_{};
    double energy_ = 0.0;  // RMS at the last instant of the previous frame
    double voicing_ = 0.0;
    double f0_ = 100.0;
    double phase_ = 0.0;  // fundamental phase, radians, kept in [-pi, pi)
    std::uint64_t rng_ = 0x9E3779B97F4A7C15ull;
    Point last_{};

    // Scratch and tables, built once.
    Point next_{};
    Fft<noise_fft> fft_{};
    std::array<std::complex<double>, noise_fft> spectrum_{};
    std::array<std::complex<double>, noise_bins> bin_rotor_{};  // e^{-j w} per noise bin
    std::array<double, noise_length> noise_window_{};
    std::array<double, frame_samples> out_{};
};

}  // namespace tarpo::codec
