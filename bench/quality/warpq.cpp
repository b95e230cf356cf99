// WARP-Q (Jassim, Skoglund, Chinen and Hines, 2021): MFCC sequences of the speech parts of
// both signals, normalised over a sliding window; every 0.4 s patch of the degraded sequence
// is aligned with the whole reference by subsequence dynamic time warping, and the score is
// the median cost per patch frame.
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

#include "bench/quality/quality.h"
#include "codec/fft.h"

namespace tarpo::quality {

using codec::Fft;

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr std::size_t fft_size = 512;  // twice the 32 ms frame at 8 kHz
constexpr std::size_t mel_bands = 40;
constexpr std::size_t mfcc_count = 12;
constexpr double lifter = 3.0;
constexpr double top_db = 80.0;           // log-mel floor below the loudest cell
constexpr std::size_t cmvn_window = 201;  // frames
constexpr std::size_t patch = 100;        // frames: 0.4 s at 4 ms
constexpr double band = 0.25;             // of the shorter sequence, around the diagonal
constexpr double vad_range_db = 45.0;     // speech frames: within this of the loudest

using Mfcc = std::array<double, mfcc_count>;

double mel(double hz) {
    return 2595.0 * std::log10(1.0 + hz / 700.0);
}

// The 30 ms frames of x that carry speech (a plain energy detector, lenient like the least
// aggressive mode of common detectors), joined.
std::vector<double> speech_only(std::span<const double> x, double fs) {
    const auto frame = static_cast<std::size_t>(0.03 * fs);
    std::vector<double> level;
    for (std::size_t at = 0; at + frame <= x.size(); at += frame) {
        double s = 0.0;
        for (std::size_t n = 0; n < frame; ++n) s += x[at + n] * x[at + n];
        level.push_back(10.0 * std::log10(s / frame + 1e-12));
    }
    const double top = level.empty() ? 0.0 : *std::max_element(level.begin(), level.end());
    std::vector<double> out;
    for (std::size_t f = 0; f < level.size(); ++f)
        if (level[f] > top - vad_range_db && level[f] > -80.0)
            out.insert(out.end(), x.begin() + f * frame, x.begin() + (f + 1) * frame);
    return out;
}

std::vector<Mfcc> mfcc(std::span<const double> x, double fs) {
    const auto frame = static_cast<std::size_t>(0.032 * fs),
               hop = static_cast<std::size_t>(0.004 * fs);
    std::vector<Mfcc> out;
    if (x.size() < frame || frame > fft_size) return out;
    const double top_hz = std::min(fs / 2.0, 4000.0);
    std::array<double, mel_bands + 2> edge{};
    for (std::size_t b = 0; b < edge.size(); ++b)
        edge[b] = 700.0 * (std::pow(10.0, mel(top_hz) * b / (mel_bands + 1) / 2595.0) - 1.0);
    const Fft<fft_size> fft;
    std::array<std::complex<double>, fft_size> buf{};
    std::vector<std::array<double, mel_bands>> logmel;
    double loudest = -1e9;
    for (std::size_t at = 0; at + frame <= x.size(); at += hop) {
        buf.fill(0.0);
        for (std::size_t n = 0; n < frame; ++n)
            buf[n] = x[at + n] * (0.5 - 0.5 * std::cos(2.0 * pi * n / frame));
        fft.forward(buf);
        std::array<double, mel_bands> m{};
        for (std::size_t k = 1; k < fft_size / 2; ++k) {
            const double hz = fs * k / fft_size, p = std::norm(buf[k]);
            for (std::size_t b = 0; b < mel_bands; ++b) {
                if (hz <= edge[b] || hz >= edge[b + 2]) continue;
                const double w = hz < edge[b + 1]
                                     ? (hz - edge[b]) / (edge[b + 1] - edge[b])
                                     : (edge[b + 2] - hz) / (edge[b + 2] - edge[b + 1]);
                m[b] += w * p;
            }
        }
        for (double& v : m) {
            v = 10.0 * std::log10(std::max(v, 1e-10));
            loudest = std::max(loudest, v);
        }
        logmel.push_back(m);
    }
    for (const auto& m : logmel) {
        Mfcc c{};
        for (std::size_t i = 0; i < mfcc_count; ++i) {
            double s = 0.0;
            for (std::size_t b = 0; b < mel_bands; ++b)
                s += std::max(m[b], loudest - top_db) * std::cos(pi * i * (b + 0.5) / mel_bands);
            const double norm = std::sqrt((i == 0 ? 1.0 : 2.0) / mel_bands);
            c[i] = s * norm * (1.0 + 0.5 * lifter * std::sin(pi * (i + 1) / lifter));
        }
        out.push_back(c);
    }
    return out;
}

// Mean and variance normalisation of every coefficient over a centred sliding window.
void normalise(std::vector<Mfcc>& c) {
    const std::vector<Mfcc> in = c;
    const std::size_t half = cmvn_window / 2;
    for (std::size_t t = 0; t < in.size(); ++t) {
        const std::size_t lo = t > half ? t - half : 0, hi = std::min(in.size(), t + half + 1);
        for (std::size_t i = 0; i < mfcc_count; ++i) {
            double s = 0.0, s2 = 0.0;
            for (std::size_t u = lo; u < hi; ++u) {
                s += in[u][i];
                s2 += in[u][i] * in[u][i];
            }
            const double mean = s / (hi - lo), var = std::max(s2 / (hi - lo) - mean * mean, 0.0);
            c[t][i] = (in[t][i] - mean) / std::sqrt(var + 1e-12);
        }
    }
}

double distance(const Mfcc& a, const Mfcc& b) {
    double s = 0.0;
    for (std::size_t i = 0; i < mfcc_count; ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(s);
}

// Subsequence DTW of deg[start, start + patch) against all of ref, steps (1,1), (3,2) and
// (1,3) (patch frames, reference frames) with equal weights, inside a band around the
// diagonal of the whole plane. Returns the best accumulated cost per patch frame.
double patch_cost(const std::vector<Mfcc>& deg, std::size_t start, const std::vector<Mfcc>& ref) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::size_t m = ref.size();
    const double slope = static_cast<double>(m) / deg.size();
    const double radius = band * static_cast<double>(std::min(m, deg.size()));
    std::vector<std::vector<double>> d(patch, std::vector<double>(m, inf));
    for (std::size_t i = 0; i < patch; ++i) {
        const double centre = slope * static_cast<double>(start + i);
        const auto lo = static_cast<std::size_t>(std::max(0.0, std::ceil(centre - radius)));
        const auto hi = std::min(m, static_cast<std::size_t>(std::max(0.0, centre + radius)) + 1);
        for (std::size_t j = lo; j < hi; ++j) {
            const double c = distance(deg[start + i], ref[j]);
            if (i == 0) {
                d[i][j] = c;  // a subsequence may start anywhere
                continue;
            }
            double best = j >= 1 ? d[i - 1][j - 1] : inf;
            if (i >= 3 && j >= 2) best = std::min(best, d[i - 3][j - 2]);
            if (j >= 3) best = std::min(best, d[i - 1][j - 3]);
            d[i][j] = c + best;
        }
    }
    const double end = *std::min_element(d[patch - 1].begin(), d[patch - 1].end());
    return end / patch;
}

}  // namespace

double warp_q(std::span<const double> reference, std::span<const double> degraded, double fs) {
    auto ref = mfcc(speech_only(reference, fs), fs);
    auto deg = mfcc(speech_only(degraded, fs), fs);
    if (ref.empty() || deg.size() < patch) return NAN;
    normalise(ref);
    normalise(deg);
    std::vector<double> costs;
    for (std::size_t start = 0; start + patch <= deg.size(); start += patch / 2) {
        const double c = patch_cost(deg, start, ref);
        if (std::isfinite(c)) costs.push_back(c);
    }
    if (costs.empty()) return NAN;
    std::sort(costs.begin(), costs.end());
    const std::size_t n = costs.size();
    return n % 2 ? costs[n / 2] : 0.5 * (costs[n / 2 - 1] + costs[n / 2]);
}

}  // namespace tarpo::quality
