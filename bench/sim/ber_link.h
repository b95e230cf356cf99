// The modem link of the bit-error-rate benchmark, in memory: test frames from a transmitting
// Station, the receiving Station fed doubles (no 16-bit clipping of the noise), a
// TestFrameChecker counting, and a genie analysis of what reaches the decisions.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "dsp/filters.h"
#include "modem/station.h"

namespace tarpo::bench {

// The clean signal of `frames` test frames (frame n carries test frame n, callsign NOCALL) as
// tarpo-cli tx --test-frames writes it: 48000 Hz, 16-bit units (whole numbers).
std::vector<double> transmit_test_frames(std::size_t frames);

// The receiver's 48000 -> 12000 Hz decimator on doubles: the filter and arithmetic of
// dsp::Decimator4, without its 16-bit input, which would clip the noise at low SNR (the
// channel's noise covers the whole 24 kHz band, eight times its power in 3 kHz).
class DoubleDecimator4 {
  public:
    double decimate4(const double* four);

  private:
    dsp::DelayLine<double, 30> line_;
};

// The voice bits (0 or 1) of one received frame.
using FrameBits54 = std::array<std::uint8_t, 54>;

// Which frames are measured. Transmitted frames before `first` are the receiver's start (its
// filters fill, its timing and frequency settle) and frames from `last` on its end (the last
// symbols are still inside its filters); only the frames between are counted.
struct FrameWindow {
    std::uint64_t first = 50;  // transmitted frame index, 2 s
    std::uint64_t last = 0;    // exclusive, > first
};

struct ReceiveCounts {
    std::uint64_t frames_assembled = 0;  // all, start and end included
    int delay = 0;  // received frame index minus transmitted index at the window's start
    std::uint64_t frames_counted = 0;  // frames the checker compared (54 bits each)
    std::uint64_t bit_errors = 0;
    std::uint64_t frames_in_error = 0;  // counted frames with at least one wrong bit
    std::uint64_t realignments = 0;     // the checker's, after slips
    // Transmitted frames of the window that came out of the receiver with all 54 voice bits
    // right, each counted once whatever slips or repeats the receiver made.
    std::uint64_t frames_delivered = 0;
    std::uint64_t frames_in_window = 0;
    // The genie's count: every received frame of the window against the transmitted frame it
    // carries, following the receiver's slips at once.
    std::uint64_t tracked_frames = 0;
    std::uint64_t tracked_errors = 0;

    std::uint64_t bits() const { return 54 * frames_counted; }
    double ber() const;          // the checker's; 0 when nothing was compared
    double tracked_ber() const;  // the genie's
    std::uint64_t frames_lost() const { return frames_in_window - frames_delivered; }
};

// A receiving Station tuned to freq_hz (Hz) over `signal` (48000 Hz, 16-bit units, any
// amplitude; a trailing part shorter than 4 samples is ignored): the voice bits of every frame
// it assembles.
std::vector<FrameBits54> receive_frames(std::span<const double> signal, double freq_hz = 1500.0);

// Counts the received frames of the window. The receiver assembles a varying number of frames
// before the first real one (start-up, noise), so a genie first finds which received frame
// carries transmitted frame `first`: the delay, within -10..30 frames, whose next 20 frames
// match the transmitted ones best (at the lowest SNR of the sweeps, BER 0.25, the right delay
// gives about 270 wrong bits of 1080 and every other about 540). Then a TestFrameChecker is
// shown the three transmitted frames before the window, so that it starts aligned (it could not
// align by itself where no 3 frames in a row have at most 5 wrong bits), and gets the received
// frames of the window; the three frames shown are not counted. Past that the checker works as
// in tarpo-cli rx, dropping its alignment after 3 frames with more than 27 wrong bits (a frame
// slip of the receiver costs those 3 frames' errors, as in tarpo-cli rx), except that the genie
// shows it where the frames now stand instead of waiting for 3 frames with at most 5 wrong bits,
// which never come at low SNR. The checker's count is what tarpo-cli rx reports; after a slip it
// goes on comparing misaligned frames (about 27 wrong bits each) until 3 in a row exceed 27, so
// where the receiver slips (fading, low SNR) a genie's count that follows each slip at once is
// kept beside it.
ReceiveCounts count_frames(const std::vector<FrameBits54>& received, const FrameWindow& window);

inline ReceiveCounts receive_test_frames(std::span<const double> signal, const FrameWindow& window,
                                         double freq_hz = 1500.0) {
    return count_frames(receive_frames(signal, freq_hz), window);
}

// What reaches the decisions, split by a genie. The receiver runs on clean + noise as usual;
// two shadow front ends, one fed the clean part and one the noise part, follow it with the same
// oscillator steps (so its AFC) and are interpolated at its symbol instants, so that each
// symbol sample z of carrier i is exactly s + n. From s and n:
//  - the detector's symbol SNR: mean |s|^2 over the data carriers / mean |n|^2;
//  - the error of the signal part's phase advance against the nearest quarter turn, fitted per
//    symbol across the carriers as a + b (i - 7) + r_i: a, common to all carriers, is the
//    receiver's frequency error over a symbol (AFC); b (i - 7) comes from a timing change
//    between the two symbols (a time shift turns carrier i by 2 pi (i - 7) 75 Hz x shift); r is
//    what is left (intersymbol and intercarrier interference, transmitter clipping).
// Phase errors from these sources add to the noise's own (1 / SNR rad^2 at the detector for
// small errors), so the effective symbol SNR is 1 / (1 / SNR + a^2 + b^2 + r^2).
struct DetectorAnalysis {
    std::uint64_t symbols = 0;
    std::array<double, 15> signal_power{};  // mean |s|^2 per carrier
    std::array<double, 15> noise_power{};   // mean |n|^2 per carrier
    std::array<double, 15> ms_rest{};       // mean square of r per carrier, rad^2
    double ms_common = 0.0;                 // mean square of a, rad^2
    double ms_b = 0.0;                      // mean square of b, rad^2
    double max_split_error = 0.0;           // max |z - (s + n)| / |z|: 0 up to rounding

    // Over the 14 data carriers, linear: mean signal power / mean noise power.
    double snr() const;
    // The pilot's part of the signal power at the detector.
    double pilot_share() const;
    double ms_slope() const { return ms_b * 280.0 / 15.0; }  // of b (i - 7), all carriers
    double ms_rest_mean() const;                             // data carriers, rad^2
    // Carrier i's effective SNR: 1 / (1 / SNR_i + a^2 + (b (i - 7))^2 + r_i^2), with b's
    // contribution at the carrier's own (i - 7).
    double effective_snr(int i) const;
    // The mean over the data carriers of the ideal detector's BER at each one's effective SNR:
    // what the receiver should measure if these phase errors acted as Gaussian noise.
    double predicted_ber() const;
};

// A frame as a receiver delivered it, with the 48 kHz sample index at which it came out.
struct TimedFrame {
    std::uint64_t sample = 0;
    FrameBits54 bits{};
    std::array<double, 54> llr{};  // the enhanced receiver's; 0 from the differential one
};

// A receiving Station with the given back end, tuned to freq_hz, over `signal`.
std::vector<TimedFrame> receive_timed(std::span<const double> signal, modem::Receiver receiver,
                                      double freq_hz = 1500.0);

// How long after a transmitted frame's end the receiver delivers it, in 48 kHz samples: the
// median over the frames of a clean signal that match a transmitted frame exactly (found
// within 30 frames of their time). 0 when none matches.
double frame_latency(const std::vector<TimedFrame>& clean_frames);

// Log-likelihood calibration: the bits of counted frames by |LLR| in bins one unit wide
// (the last bin takes everything from 11 up), with their errors and the error rate the LLRs
// predict, 1 / (1 + e^|LLR|), summed.
struct LlrBins {
    static constexpr int count = 12;
    std::array<std::uint64_t, count> bits{};
    std::array<std::uint64_t, count> errors{};
    std::array<double, count> predicted{};  // sum over the bin's bits
    void add(double llr, bool wrong);
};

// Honest frame-by-frame counting. Transmitted frame n (ending at 48 kHz sample 1920 (n + 1))
// is expected out of the receiver at that time, scaled by the receiver's clock (time_scale:
// 1 + ppm 1e-6), plus the latency; each received frame goes to the transmitted frame whose
// expected time is nearest, and is compared with it bit by bit. A transmitted frame that no
// received frame lands on is lost; where several land on one (the receiver doubled a frame),
// the best counts and the others are extra.
struct FrameCounts {
    std::uint64_t frames_sent = 0;      // transmitted frames in the window
    std::uint64_t frames_received = 0;  // of those, with a received frame
    std::uint64_t frames_extra = 0;     // received frames beyond one per transmitted frame
    std::uint64_t bit_errors = 0;       // in the received frames, 54 bits each
    std::uint64_t frames_in_error = 0;  // received frames with any wrong bit
    LlrBins llr;

    std::uint64_t lost() const { return frames_sent - frames_received; }
    double ber() const;  // over the received frames' bits
    // Transmitted frames not delivered intact (lost, or with any wrong bit), of those sent.
    double fer() const;
};

FrameCounts count_by_time(const std::vector<TimedFrame>& received, const FrameWindow& window,
                          double time_scale, double latency);

// The time, s, at which the first frame came out intact at its own time; -1 when none did.
double first_intact_seconds(const std::vector<TimedFrame>& received, double time_scale,
                            double latency);

// Runs the analysis over clean + noise (equal lengths, 48000 Hz, 16-bit units), from
// `skip_seconds` on (the receiver's start).
DetectorAnalysis analyse_detector(std::span<const double> clean, std::span<const double> noise,
                                  double skip_seconds = 2.0);

}  // namespace tarpo::bench
