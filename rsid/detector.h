// rsid/: the identification burst that names the mode on the air: its Reed-Solomon code, the
// encoder, the resampler and detector, and the C entries behind external/rsid.h. Ground-floor
// signal processing with FFTW for the transforms; it includes only rsid/, external/ and dsp/.
// Recognises our identification burst in the receive audio at 6000 Hz.
//
// The input is resampled to the reference rate (11025 Hz). Every half symbol (512 samples)
// the last symbol's worth (1024 samples) is transformed with zero padding to 2048 points, so
// bins are half a tone apart (5.38 Hz). For every candidate base bin b in the band, the
// strongest of the 16 tone bins b, b + 2, ..., b + 30 is taken as that symbol's tone; a burst
// whose tone 0 lies at bin b ends at the current frame when the tones of this frame and of
// the 14 frames one, two, ... whole symbols earlier spell our codeword with at most one
// symbol in error. Of the matches found within one further half symbol, the one with the most
// energy on its codeword wins, its frequency is refined between bins, and it is reported
// once; the detector then rests for the length of a burst.
#pragma once

#include <array>
#include <complex>
#include <cstdint>

#include "rsid/burst.h"
#include "rsid/code.h"
#include "rsid/resampler.h"

namespace tarpo::rsid {

class Detector {
  public:
    static constexpr int input_block = Resampler::input_block;   // 960 samples at 6000 Hz
    static constexpr int window = symbol_reference_samples;      // 1024 at 11025 Hz
    static constexpr int hop = window / 2;                       // half a symbol
    static constexpr int fft_size = 2 * window;                  // half-tone bins
    static constexpr double bin_hz = reference_rate / fft_size;  // 5.383 Hz
    static constexpr int bins_per_tone = 2;
    // Analysed bins: band_low .. band_high.
    static constexpr int first_bin = 56;  // 301.5 Hz
    static constexpr int last_bin = 520;  // 2799.3 Hz
    static constexpr int band_bins = last_bin - first_bin + 1;
    static constexpr int tone_span = (tone_count - 1) * bins_per_tone;  // 30 bins
    static constexpr int candidates = band_bins - tone_span;            // base bins 56 .. 490
    // Frames of one burst: the first symbol's frame is 28 hops before the last one's.
    static constexpr int frames_per_burst = 2 * (code_length - 1) + 1;
    // Frames kept: a burst's frames plus the two hops a match waits before it is reported.
    static constexpr int history = 32;
    static_assert(history >= frames_per_burst + 2);
    // At most this many symbols may disagree with the codeword.
    static constexpr int max_errors = 1;
    // After a report, matches ending within this many hops belong to the same burst.
    static constexpr int rest_hops = 2 * code_length - 2;

    static_assert(first_bin * bin_hz >= band_low && last_bin * bin_hz <= band_high);
    static_assert((first_bin - 1) * bin_hz < band_low && (last_bin + 1) * bin_hz > band_high);

    // code: the codeword to look for (ours by default). Plans the transform once (FFTW's
    // planner is not reentrant: construct detectors on one thread at a time, as the program
    // does at start-up). Throws std::runtime_error if the planner fails.
    explicit Detector(const Codeword& code = tarpo_codeword);
    ~Detector();
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // samples: 960 samples at 6000 Hz (160 ms) in 16-bit sample units. Non-numeric samples
    // count as 0 and sample magnitudes are held at 1e6. Returns true when a burst has just been
    // recognised; its announced frequency is then frequency().
    bool check(const double* samples);
    // f0 (tone 7) of the last recognised burst, Hz; 0 before the first.
    double frequency() const { return frequency_; }
    // Forgets all history (not the last frequency).
    void reset();

  private:
    struct Match {
        std::int64_t frame = -1;  // frame at which the burst's last symbol was seen
        int base = 0;             // candidate index (bin first_bin + base holds tone 0)
        double score = 0.0;       // summed magnitude on the codeword's bins
    };

    // Transforms the last window, matches every candidate and reports; true on a report.
    bool analyse_frame();
    // Sum over the 15 symbol frames of a burst ending at frame `end` of the magnitude at each
    // codeword tone's bin + offset (offset in bins, -1..1); bins outside the band count 0.
    double codeword_energy(std::int64_t end, int base, int offset) const;
    // f0 of a match, Hz, interpolated between bins from the energies at offsets -1, 0, 1.
    double refine_frequency(const Match& m) const;
    const std::array<double, band_bins>& frame_row(std::int64_t frame) const {
        return magnitude_[static_cast<std::size_t>(frame % history)];
    }

    Codeword code_;
    Resampler resampler_;
    std::array<double, Resampler::output_block> resampled_{};
    // The last `window` resampled samples, as a ring, and the count towards the next hop.
    std::array<double, window> ring_{};
    int ring_pos_ = 0;
    int since_hop_ = 0;

    alignas(64) std::array<double, fft_size> fft_in_{};
    alignas(64) std::array<std::complex<double>, fft_size / 2 + 1> fft_out_{};
    void* plan_ = nullptr;  // fftw_plan; kept opaque so that users need not see fftw3.h

    std::int64_t frames_ = 0;  // frames analysed since reset
    std::array<std::array<double, band_bins>, history> magnitude_{};
    std::array<std::array<std::uint8_t, candidates>, history> strongest_{};

    std::array<double, input_block> clean_{};

    // Best match not yet reported (frame -1: none), and the frame of its first match: a
    // pending match is reported when the frame two hops after its first match arrives, so
    // the other half-symbol alignment gets its chance to do better.
    Match pending_{};
    std::int64_t pending_first_ = -1;
    std::int64_t quiet_until_ = -1;  // no new match may end at or before this frame
    double frequency_ = 0.0;
};

}  // namespace tarpo::rsid
