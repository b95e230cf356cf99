// The analysis half of the codec: 320 samples at 8 kHz in, one 54-bit frame out.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "codec/codec_constants.h"
#include "codec/lpc.h"
#include "codec/pitch.h"
#include "codec/quantiser.h"

namespace tarpo::codec {

// Second-order IIR section, direct form I.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double step(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Unquantised parameters of one frame, for tests and tuning.
struct FrameAnalysis {
    std::array<double, 2> energy_db{};  // dBFS per 20 ms half
    double pitch_hz = 0.0;
    std::array<double, 2> voicing{};  // normalised correlation at the pitch, per half
    Lsf lsf{};
    // Energy and envelope at the frame's four 10 ms instants (the last is the frame's end).
    std::array<double, points_per_frame> point_db{};
    std::array<Lsf, points_per_frame> point_lsf{};
};

class Encoder {
  public:
    // Analysis runs this many samples behind the newest input, so that every window is
    // centred on the instant it describes. The decoder adds no further delay.
    static constexpr std::size_t lookahead = 200;

    Encoder();

    void encode(const std::int16_t* speech, std::uint8_t* bits);
    // The same, returning the indices instead of packed bits.
    FrameIndices analyse(const std::int16_t* speech);
    // The unquantised parameters of the last analysed frame.
    const FrameAnalysis& last_analysis() const { return last_; }

  private:
    static constexpr std::size_t buffer = 2 * frame_samples;
    static constexpr std::size_t frame_end = buffer - lookahead;  // the frame's end instant
    static constexpr std::size_t lpc_window = 240;
    static constexpr std::size_t energy_window = 160;

    double energy_at(std::size_t centre) const;
    // Line spectral frequencies of the window centred on centre; prev when none are found.
    Lsf lsf_at(std::size_t centre, const Lsf& prev) const;
    // The end and middle envelope indices of f, and sent_lsf_.
    void choose_envelopes(FrameIndices& f);

    std::array<double, buffer> speech_{};   // high-passed input, scaled to +-1
    std::array<double, buffer> lowpass_{};  // below ~1 kHz, for the pitch search
    std::array<double, lpc_window> lpc_window_{};
    std::array<double, energy_window> energy_window_{};
    double energy_window_power_ = 1.0;
    std::array<double, lpc_order + 1> lag_window_{};

    Biquad hp1_, hp2_;  // fourth-order high-pass at the input
    Biquad lp1_, lp2_;
    // 200 Hz - 1 kHz: a voiced half must be periodic here too, which low rumble is not.
    struct Band {
        Biquad high, low;
        std::array<double, buffer> signal{};
    };
    Band voice_band_{};
    // Best normalised correlation of a band within a sample of the pitch period.
    static double band_correlation(const Band& b, std::size_t centre, double lag);
    PitchEstimator pitch_;
    double prev_lag_ = 0.0;  // 0 while unvoiced
    Lsf prev_lsf_{};
    double sent_db_ = -INFINITY;  // the previous frame's last energy as sent
    Lsf sent_lsf_{};              // the previous frame's end envelope as the decoder has it
    FrameAnalysis last_{};
};

}  // namespace tarpo::codec
