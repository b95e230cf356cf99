#include <algorithm>
#include <array>
#include <cmath>
#include <complex>

#include "bench/quality/quality.h"
#include "codec/fft.h"

namespace tarpo::quality {

using codec::Fft;

namespace {

constexpr std::size_t fft_size = 512;
constexpr std::size_t mel_bands = 24;
constexpr std::size_t coefficient_count = 12;
constexpr double dynamic_range = 40.0;  // dB
constexpr double power_floor = 1e-10;   // -100 dB re full scale, keeps log finite

double mel(double hz) {
    return 2595.0 * std::log10(1.0 + hz / 700.0);
}
double mel_to_hz(double m) {
    return 700.0 * (std::pow(10.0, m / 2595.0) - 1.0);
}

struct Analysis {
    std::vector<std::array<double, coefficient_count + 1>> cepstra;  // index 0: frame level, dB
};

Analysis analyse(std::span<const double> x, double fs, std::size_t frame, std::size_t hop) {
    Analysis out;
    if (x.size() < frame) return out;
    std::vector<double> window(frame);
    for (std::size_t n = 0; n < frame; ++n)
        window[n] = 0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 * (n + 0.5) / frame);
    // Triangular mel filters, half-overlapping, spanning 0..fs/2.
    std::array<double, mel_bands + 2> edge{};
    for (std::size_t b = 0; b < mel_bands + 2; ++b)
        edge[b] = mel_to_hz(mel(fs / 2.0) * static_cast<double>(b) / (mel_bands + 1));
    const Fft<fft_size> fft;
    std::array<std::complex<double>, fft_size> buf{};
    const std::size_t frames = (x.size() - frame) / hop + 1;
    for (std::size_t f = 0; f < frames; ++f) {
        buf.fill(0.0);
        double energy = 0.0;
        for (std::size_t n = 0; n < frame; ++n) {
            const double v = x[f * hop + n] * window[n];
            buf[n] = v;
            energy += v * v;
        }
        fft.forward(buf);
        std::array<double, mel_bands> logamp{};
        for (std::size_t b = 0; b < mel_bands; ++b) {
            double s = 0.0;
            for (std::size_t k = 1; k < fft_size / 2; ++k) {
                const double hz = fs * static_cast<double>(k) / fft_size;
                double wgt = 0.0;
                if (hz > edge[b] && hz < edge[b + 1])
                    wgt = (hz - edge[b]) / (edge[b + 1] - edge[b]);
                else if (hz >= edge[b + 1] && hz < edge[b + 2])
                    wgt = (edge[b + 2] - hz) / (edge[b + 2] - edge[b + 1]);
                s += wgt * std::norm(buf[k]) / frame;
            }
            logamp[b] = 0.5 * std::log(s + power_floor);
        }
        std::array<double, coefficient_count + 1> c{};
        c[0] = 10.0 * std::log10(energy / frame + power_floor);
        for (std::size_t m = 1; m <= coefficient_count; ++m) {
            double s = 0.0;
            for (std::size_t b = 0; b < mel_bands; ++b)
                s += logamp[b] * std::cos(3.14159265358979323846 * m * (b + 0.5) / mel_bands);
            c[m] = s / mel_bands;
        }
        out.cepstra.push_back(c);
    }
    return out;
}

}  // namespace

double mel_cepstral_distortion(std::span<const double> reference, std::span<const double> test,
                               double fs) {
    const auto frame = static_cast<std::size_t>(0.025 * fs);
    const auto hop = static_cast<std::size_t>(0.010 * fs);
    const Analysis r = analyse(reference, fs, frame, hop);
    const Analysis t = analyse(test, fs, frame, hop);
    const std::size_t n = std::min(r.cepstra.size(), t.cepstra.size());
    if (n == 0) return 0.0;
    double top = -INFINITY;
    for (std::size_t f = 0; f < n; ++f) top = std::max(top, r.cepstra[f][0]);
    double total = 0.0;
    std::size_t count = 0;
    for (std::size_t f = 0; f < n; ++f) {
        if (r.cepstra[f][0] < top - dynamic_range) continue;
        double s = 0.0;
        for (std::size_t m = 1; m <= coefficient_count; ++m) {
            const double d = r.cepstra[f][m] - t.cepstra[f][m];
            s += d * d;
        }
        total += 10.0 / std::log(10.0) * std::sqrt(2.0 * s);
        ++count;
    }
    return count > 0 ? total / static_cast<double>(count) : 0.0;
}

}  // namespace tarpo::quality
