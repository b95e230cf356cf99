#include <algorithm>
#include <array>
#include <cmath>
#include <complex>

#include "bench/quality/quality.h"
#include "codec/fft.h"

namespace tarpo::quality {

using codec::Fft;

namespace {

constexpr double stoi_rate = 10000.0;
constexpr std::size_t frame_length = 256;
constexpr std::size_t hop_len = frame_length / 2;
constexpr std::size_t stoi_fft = 512;
constexpr std::size_t band_count = 15;
constexpr double lowest_centre = 150.0;     // Hz
constexpr std::size_t segment_frames = 30;  // frames per short-time segment (384 ms)
constexpr double beta = -15.0;              // lower bound of signal-to-distortion, dB
constexpr double dynamic_range = 40.0;      // dB below the loudest frame that counts as speech

// The window of the original method: a Hann window without its zero end points.
std::array<double, frame_length> hann() {
    std::array<double, frame_length> w{};
    for (std::size_t n = 0; n < frame_length; ++n)
        w[n] = 0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 * (n + 1) / (frame_length + 1));
    return w;
}

// Keeps only the frames in which the clean signal is within dynamic_range of its loudest
// frame, and rebuilds both signals from them by overlap-add.
void remove_silence(std::vector<double>& x, std::vector<double>& y) {
    const auto w = hann();
    const std::size_t n = std::min(x.size(), y.size());
    if (n < frame_length) return;
    const std::size_t frames = (n - frame_length) / hop_len + 1;
    std::vector<double> energy(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        double s = 0.0;
        for (std::size_t i = 0; i < frame_length; ++i) {
            const double v = w[i] * x[f * hop_len + i];
            s += v * v;
        }
        energy[f] =
            20.0 * std::log10(std::sqrt(s) / std::sqrt(static_cast<double>(frame_length)) + 1e-300);
    }
    const double top = *std::max_element(energy.begin(), energy.end());
    std::vector<double> xs, ys;
    std::size_t kept = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        if (!(energy[f] > top - dynamic_range)) continue;
        const std::size_t at = kept * hop_len;
        xs.resize(at + frame_length, 0.0);
        ys.resize(at + frame_length, 0.0);
        for (std::size_t i = 0; i < frame_length; ++i) {
            xs[at + i] += w[i] * x[f * hop_len + i];
            ys[at + i] += w[i] * y[f * hop_len + i];
        }
        ++kept;
    }
    x.swap(xs);
    y.swap(ys);
}

// One-third octave band magnitudes (bands x frames) of a signal.
std::vector<std::array<double, band_count>> band_envelopes(
    const std::vector<double>& x, const std::array<std::size_t, band_count + 1>& edges) {
    const auto w = hann();
    const Fft<stoi_fft> fft;
    std::vector<std::array<double, band_count>> out;
    if (x.size() < frame_length) return out;
    const std::size_t frames = (x.size() - frame_length) / hop_len + 1;
    out.resize(frames);
    std::array<std::complex<double>, stoi_fft> buf{};
    for (std::size_t f = 0; f < frames; ++f) {
        buf.fill(0.0);
        for (std::size_t i = 0; i < frame_length; ++i) buf[i] = w[i] * x[f * hop_len + i];
        fft.forward(buf);
        for (std::size_t b = 0; b < band_count; ++b) {
            double s = 0.0;
            for (std::size_t k = edges[b]; k < edges[b + 1]; ++k) s += std::norm(buf[k]);
            out[f][b] = std::sqrt(s);
        }
    }
    return out;
}

// First FFT bin of each band and one past the last bin of the top band: the bins nearest the
// band edges 150 * 2^((2k-1)/6) Hz.
std::array<std::size_t, band_count + 1> band_edges() {
    std::array<std::size_t, band_count + 1> e{};
    auto nearest = [](double hz) {
        return static_cast<std::size_t>(std::lround(hz * stoi_fft / stoi_rate));
    };
    for (std::size_t k = 0; k <= band_count; ++k)
        e[k] = nearest(lowest_centre * std::pow(2.0, (2.0 * static_cast<double>(k) - 1.0) / 6.0));
    return e;
}

}  // namespace

double stoi(std::span<const double> clean, std::span<const double> processed, double fs) {
    std::vector<double> x = resample(clean, fs, stoi_rate);
    std::vector<double> y = resample(processed, fs, stoi_rate);
    const std::size_t n = std::min(x.size(), y.size());
    x.resize(n);
    y.resize(n);
    remove_silence(x, y);

    const auto edges = band_edges();
    const auto X = band_envelopes(x, edges);
    const auto Y = band_envelopes(y, edges);
    if (X.size() < segment_frames) return 0.0;

    const double clip = 1.0 + std::pow(10.0, -beta / 20.0);
    double total = 0.0;
    std::size_t count = 0;
    std::array<double, segment_frames> xs{}, ys{};
    for (std::size_t m = segment_frames; m <= X.size(); ++m) {
        for (std::size_t b = 0; b < band_count; ++b) {
            double xn = 0.0, yn = 0.0;
            for (std::size_t i = 0; i < segment_frames; ++i) {
                xs[i] = X[m - segment_frames + i][b];
                ys[i] = Y[m - segment_frames + i][b];
                xn += xs[i] * xs[i];
                yn += ys[i] * ys[i];
            }
            const double alpha = yn > 0.0 ? std::sqrt(xn / yn) : 0.0;
            double xm = 0.0, ym = 0.0;
            for (std::size_t i = 0; i < segment_frames; ++i) {
                ys[i] = std::min(alpha * ys[i], clip * xs[i]);
                xm += xs[i];
                ym += ys[i];
            }
            xm /= segment_frames;
            ym /= segment_frames;
            double sxy = 0.0, sxx = 0.0, syy = 0.0;
            for (std::size_t i = 0; i < segment_frames; ++i) {
                const double a = xs[i] - xm, c = ys[i] - ym;
                sxy += a * c;
                sxx += a * a;
                syy += c * c;
            }
            const double den = std::sqrt(sxx * syy);
            total += den > 0.0 ? sxy / den : 0.0;
            ++count;
        }
    }
    return count > 0 ? total / static_cast<double>(count) : 0.0;
}

}  // namespace tarpo::quality
