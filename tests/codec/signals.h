// Synthetic test signals for the codec tests: vowels from an impulse train through formant
// resonators, and seeded noise.
#ifndef TARPO_TESTS_CODEC_SIGNALS_H
#define TARPO_TESTS_CODEC_SIGNALS_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace tarpo::codec::test {

inline constexpr double test_pi = 3.14159265358979323846;

// Three two-pole resonators (100 Hz bandwidth each) in cascade, in place, at 8 kHz.
inline void formant_filter(std::vector<double>& x, std::array<double, 3> formants) {
    const double r = std::exp(-test_pi * 100.0 / 8000.0);
    for (const double f : formants) {
        const double a1 = -2.0 * r * std::cos(2.0 * test_pi * f / 8000.0), a2 = r * r;
        double y1 = 0.0, y2 = 0.0;
        for (double& v : x) {
            const double y = v - a1 * y1 - a2 * y2;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
}

// A glottal impulse train whose pitch goes from f_start to f_end Hz (log glide) over n samples.
inline std::vector<double> impulse_train(double f_start, double f_end, std::size_t n) {
    std::vector<double> x(n, 0.0);
    double phase = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        phase += f_start * std::pow(f_end / f_start, double(i) / double(n)) / 8000.0;
        if (phase >= 1.0) {
            phase -= 1.0;
            x[i] = 1.0;
        }
    }
    return x;
}

// Scales x so that its last three quarters have the given RMS level, dBFS.
inline void set_level(std::vector<double>& x, double level_db) {
    const std::size_t n = x.size();
    double s = 0.0;
    for (std::size_t i = n / 4; i < n; ++i) s += x[i] * x[i];
    const double g =
        std::pow(10.0, level_db / 20.0) / std::sqrt(s / static_cast<double>(n - n / 4));
    for (double& v : x) v *= g;
}

// A steady vowel at 8 kHz: impulses at f0 through the formant resonators.
inline std::vector<double> vowel(double f0, std::array<double, 3> formants, std::size_t n,
                                 double level_db = -20.0) {
    auto x = impulse_train(f0, f0, n);
    formant_filter(x, formants);
    set_level(x, level_db);
    return x;
}

inline std::vector<double> white_noise(std::size_t n, double rms, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<double> x(n);
    // Uniform on [-1, 1) has RMS 1/sqrt(3).
    for (double& v : x)
        v = rms * std::sqrt(3.0) * (static_cast<double>(rng() >> 11) * 0x1p-52 - 1.0);
    return x;
}

inline std::vector<std::int16_t> to_pcm(const std::vector<double>& x) {
    std::vector<std::int16_t> s(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        s[i] = static_cast<std::int16_t>(
            std::lround(std::clamp(x[i], -1.0, 32767.0 / 32768.0) * 32768.0));
    return s;
}

inline double rms_db(const std::int16_t* s, std::size_t n) {
    double e = 0.0;
    for (std::size_t i = 0; i < n; ++i) e += static_cast<double>(s[i]) * s[i];
    e /= static_cast<double>(n) * 32768.0 * 32768.0;
    return e > 0.0 ? 10.0 * std::log10(e) : -200.0;
}

}  // namespace tarpo::codec::test

#endif
