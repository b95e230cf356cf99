#include "rsid/detector.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>

namespace tarpo::rsid {

namespace {
// Serialises this library's own use of FFTW's planner.
std::mutex planner_mutex;

// Input samples beyond this magnitude are held at it: far beyond any 16-bit sample, small
// enough that sums of squares over a window stay finite.
constexpr double input_limit = 1e6;

fftw_plan as_plan(void* p) {
    return static_cast<fftw_plan>(p);
}
}  // namespace

Detector::Detector(const Codeword& code) : code_(code) {
    std::lock_guard<std::mutex> lock(planner_mutex);
    plan_ = fftw_plan_dft_r2c_1d(fft_size, fft_in_.data(),
                                 reinterpret_cast<fftw_complex*>(fft_out_.data()),
                                 FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    if (plan_ == nullptr) throw std::runtime_error("rsid::Detector: FFTW planning failed");
    reset();
}

Detector::~Detector() {
    std::lock_guard<std::mutex> lock(planner_mutex);
    fftw_destroy_plan(as_plan(plan_));
}

void Detector::reset() {
    resampler_.reset();
    ring_.fill(0.0);
    ring_pos_ = 0;
    since_hop_ = 0;
    frames_ = 0;
    pending_ = Match{};
    pending_first_ = -1;
    quiet_until_ = -1;
}

bool Detector::check(const double* samples) {
    for (int i = 0; i < input_block; ++i) {
        const double x = samples[i];
        clean_[i] = std::isfinite(x) ? std::clamp(x, -input_limit, input_limit) : 0.0;
    }
    resampler_.process(clean_.data(), resampled_.data());
    bool reported = false;
    for (double v : resampled_) {
        ring_[ring_pos_] = v;
        ring_pos_ = ring_pos_ + 1 == window ? 0 : ring_pos_ + 1;
        if (++since_hop_ == hop) {
            since_hop_ = 0;
            reported |= analyse_frame();
        }
    }
    return reported;
}

bool Detector::analyse_frame() {
    // Oldest sample first (ring_pos_ is the oldest), zero padding after the window.
    std::copy(ring_.begin() + ring_pos_, ring_.end(), fft_in_.begin());
    std::copy(ring_.begin(), ring_.begin() + ring_pos_, fft_in_.begin() + (window - ring_pos_));
    std::fill(fft_in_.begin() + window, fft_in_.end(), 0.0);
    fftw_execute(as_plan(plan_));

    const std::int64_t frame = frames_++;
    const auto slot = static_cast<std::size_t>(frame % history);
    auto& row = magnitude_[slot];
    for (int k = 0; k < band_bins; ++k) {
        const auto& z = fft_out_[static_cast<std::size_t>(first_bin + k)];
        row[k] = std::sqrt(z.real() * z.real() + z.imag() * z.imag());
    }
    auto& tones = strongest_[slot];
    for (int c = 0; c < candidates; ++c) {
        int best = 0;
        double best_mag = row[c];
        for (int t = 1; t < tone_count; ++t) {
            const double m = row[c + t * bins_per_tone];
            if (m > best_mag) {
                best_mag = m;
                best = t;
            }
        }
        tones[c] = static_cast<std::uint8_t>(best);
    }

    bool reported = false;
    if (pending_.frame >= 0 && frame >= pending_first_ + 2) {
        frequency_ = refine_frequency(pending_);
        quiet_until_ = pending_.frame + rest_hops;
        pending_ = Match{};
        pending_first_ = -1;
        reported = true;
    }
    if (frame < frames_per_burst - 1 || frame <= quiet_until_) return reported;

    for (int c = 0; c < candidates; ++c) {
        int errors = 0;
        for (int i = code_length - 1; i >= 0 && errors <= max_errors; --i) {
            const std::int64_t f = frame - bins_per_tone * (code_length - 1 - i);
            if (strongest_[static_cast<std::size_t>(f % history)][c] != code_[i]) ++errors;
        }
        if (errors > max_errors) continue;
        const double score = codeword_energy(frame, c, 0);
        if (pending_.frame < 0) {
            pending_ = Match{frame, c, score};
            pending_first_ = frame;
        } else if (score > pending_.score) {
            pending_ = Match{frame, c, score};
        }
    }
    return reported;
}

double Detector::codeword_energy(std::int64_t end, int base, int offset) const {
    double sum = 0.0;
    for (int i = 0; i < code_length; ++i) {
        const int k = base + code_[i] * bins_per_tone + offset;
        if (k < 0 || k >= band_bins) continue;
        sum += frame_row(end - bins_per_tone * (code_length - 1 - i))[k];
    }
    return sum;
}

double Detector::refine_frequency(const Match& m) const {
    const double below = codeword_energy(m.frame, m.base, -1);
    const double at = codeword_energy(m.frame, m.base, 0);
    const double above = codeword_energy(m.frame, m.base, 1);
    // Vertex of the parabola through the three sums; a match can sit up to one bin from the
    // true peak (a neighbouring candidate may have matched with less energy but lies closer).
    double delta = 0.0;
    const double curvature = below - 2.0 * at + above;
    if (curvature < 0.0) delta = std::clamp(0.5 * (below - above) / curvature, -1.0, 1.0);
    return (first_bin + m.base + centre_tone * bins_per_tone + delta) * bin_hz;
}

}  // namespace tarpo::rsid
