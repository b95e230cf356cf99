// Signal helpers shared by the identification-burst tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "rsid/burst_encoder.h"
#include "rsid/detector.h"

namespace tarpo::rsid::test {

// 48000 Hz to 6000 Hz: a 255-tap Hann-windowed sinc low-pass (6 dB at 2900 Hz; flat to
// about 2600 Hz, where the highest tone of a 2400 Hz burst stays below 2490 Hz) evaluated at
// every 8th input sample.
inline std::vector<double> decimate_by_8(const std::vector<double>& in) {
    constexpr int taps = 255;
    constexpr double fc = 2900.0 / 48000.0;
    static const std::vector<double> h = [] {
        std::vector<double> v(taps);
        double sum = 0.0;
        for (int j = 0; j < taps; ++j) {
            const double t = j - (taps - 1) / 2.0;
            const double x = 2.0 * fc * t;
            const double sinc =
                t == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (j + 1) / (taps + 1));
            v[j] = sinc * w;
            sum += v[j];
        }
        for (double& c : v) c /= sum;
        return v;
    }();
    std::vector<double> out;
    out.reserve(in.size() / 8);
    for (std::size_t n = 0; n < in.size(); n += 8) {
        double acc = 0.0;
        for (int j = 0; j < taps; ++j) {
            if (n >= static_cast<std::size_t>(j)) acc += h[j] * in[n - j];
        }
        out.push_back(acc);
    }
    return out;
}

// The whole burst for f0 from an encoder at the given rate.
inline std::vector<double> burst(double f0, double sample_rate, double amplitude = 22937.0) {
    Encoder enc(sample_rate, amplitude);
    enc.start(f0);
    std::vector<double> out(static_cast<std::size_t>(enc.length()));
    enc.generate(out.data(), out.size());
    return out;
}

// Mean power of a signal, sample units squared.
inline double power(const std::vector<double>& x) {
    double s = 0.0;
    for (double v : x) s += v * v;
    return x.empty() ? 0.0 : s / x.size();
}

struct Detection {
    int call;     // index of the 960-sample call that reported
    double freq;  // Hz
};

// Feeds `signal` (6000 Hz) to the detector in 960-sample calls, padded with zeros to whole
// calls, and returns every report.
inline std::vector<Detection> run(Detector& det, const std::vector<double>& signal) {
    std::vector<Detection> found;
    std::vector<double> block(Detector::input_block);
    for (std::size_t start = 0, call = 0; start < signal.size(); start += block.size(), ++call) {
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = start + i < signal.size() ? signal[start + i] : 0.0;
        }
        if (det.check(block.data())) found.push_back({static_cast<int>(call), det.frequency()});
    }
    return found;
}

// `lead` zeros, then the burst, then `tail` zeros; white Gaussian noise of the given standard
// deviation over everything.
inline std::vector<double> embed(const std::vector<double>& burst6k, std::size_t lead,
                                 std::size_t tail, double noise_sd, std::mt19937_64& rng) {
    std::vector<double> x(lead + burst6k.size() + tail, 0.0);
    std::copy(burst6k.begin(), burst6k.end(), x.begin() + static_cast<std::ptrdiff_t>(lead));
    if (noise_sd > 0.0) {
        std::normal_distribution<double> g(0.0, noise_sd);
        for (double& v : x) v += g(rng);
    }
    return x;
}

}  // namespace tarpo::rsid::test
