// The simulator's stages on their own: the analytic filter against its definition, the
// frequency shifter's phase, and the statistics of the Doppler fading gain.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "sim/analytic.h"
#include "sim/channel.h"
#include "sim/fading.h"
#include "sim/rng.h"
#include "tests/sim/probe.h"

namespace tarpo::sim {
namespace {

using cd = std::complex<double>;

TEST(AnalyticFilter, MatchesDirectConvolutionAcrossTheRingWrap) {
    // Streaming output against the textbook sum over the taps, on seeded noise long enough for
    // the ring buffer to wrap several times. The real part must be the input delayed exactly.
    AnalyticFilter filter;
    Rng rng(7);
    std::vector<double> x(3 * AnalyticFilter::taps + 17);
    for (double& v : x) v = rng.gaussian() * 1000.0;
    const int d = AnalyticFilter::delay;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const cd a = filter.step(x[n]);
        const std::ptrdiff_t m = static_cast<std::ptrdiff_t>(n) - d;  // the sample a stands for
        auto at = [&](std::ptrdiff_t i) {
            return i >= 0 && i < static_cast<std::ptrdiff_t>(x.size()) ? x[i] : 0.0;
        };
        double imag = 0.0;
        for (int k = -d; k <= d; ++k) imag += filter.tap(k) * at(m - k);
        ASSERT_EQ(a.real(), at(m)) << n;
        // Rounding of 512-term sums of values near 1000: 1e-9 is far below any real error.
        ASSERT_NEAR(a.imag(), imag, 1e-9) << n;
    }
}

TEST(AnalyticFilter, QuadratureAndGainAcrossTheBand) {
    // A tone cos(wn + p) must come out as e^{j(wn + p)}: the imaginary part A sin(wn + p). The
    // odd-symmetric transformer is exactly 90 degrees, so the only error is its gain G, and the
    // image of the tone at the negative frequency is |1 - G| / (1 + G) of it: at least 70 dB
    // down across the band the filter is meant for (about 120 Hz to rate/2 - 120 Hz).
    for (double f :
         {120.0, 200.0, 500.0, 975.0, 1500.0, 2025.0, 3000.0, 8000.0, 16000.0, 23000.0, 23880.0}) {
        AnalyticFilter filter;
        const double w = 2.0 * std::numbers::pi * f / probe::rate;
        const double amplitude = 1000.0;
        double num = 0.0, den = 0.0;
        std::vector<double> imag, ideal;
        for (int n = 0; n < 6000; ++n) {
            const cd a = filter.step(amplitude * std::cos(w * n + 0.3));
            if (n < AnalyticFilter::taps) continue;  // until the filter is full
            const double s = amplitude * std::sin(w * (n - AnalyticFilter::delay) + 0.3);
            num += a.imag() * s;
            den += s * s;
            imag.push_back(a.imag());
            ideal.push_back(s);
        }
        const double gain = num / den;
        const double image_db = 20.0 * std::log10(std::abs(1.0 - gain) / (1.0 + gain) + 1e-300);
        EXPECT_LT(image_db, -70.0) << f << " Hz";
        double residual = 0.0;
        for (std::size_t i = 0; i < imag.size(); ++i)
            residual = std::max(residual, std::abs(imag[i] - gain * ideal[i]));
        EXPECT_LT(residual, 1e-6 * amplitude) << f << " Hz: not in quadrature";
    }
}

TEST(FrequencyShift, PhaseStaysExactOverMinutes) {
    // The phase is kept in cycles and wrapped every sample; after three minutes at 48 kHz it must
    // still agree with the closed form (a drifting accumulator would slowly detune the shift).
    const double offset = 7.3;
    FrequencyShift shift(probe::rate, offset);
    const long n = 3L * 60 * 48000;
    cd last{};
    for (long i = 0; i <= n; ++i) last = shift.step(cd(1.0, 0.0));
    const double expected = 2.0 * std::numbers::pi * std::fmod(offset * n / probe::rate, 1.0);
    // 8.6e6 additions of a step with a relative rounding of 1e-16: about 1e-9 cycles.
    EXPECT_NEAR(std::arg(last * std::polar(1.0, -expected)), 0.0, 1e-7);
    EXPECT_NEAR(std::abs(last), 1.0, 1e-12);
}

// Statistics of one path gain over a long run, at 160 samples per second so the run is cheap; the
// three profiles then interpolate 50, 10 and 5 output samples per filter sample.
struct GainStats {
    double power = 0.0;     // E|g|^2
    double kurtosis = 0.0;  // E|g|^4 / (E|g|^2)^2: 2 for a complex Gaussian (Rayleigh)
    double sigma_hz = 0.0;  // Doppler standard deviation from the autocorrelation
    double shape = 0.0;     // ln rho(2 tau) / ln rho(tau): 4 for a Gaussian spectrum
    double rho_imag = 0.0;  // imaginary part of rho(tau): 0 for a spectrum centred on 0 Hz
    double cross = 0.0;     // |E[g1 g2*]| / E|g|^2 between two independently seeded paths
};

GainStats measure_gain(double spread_hz, double seconds, std::uint64_t seed) {
    const double rate = 160.0;
    DopplerGain path1(rate, spread_hz, 0.5, Rng(seed, 2));
    DopplerGain path2(rate, spread_hz, 0.5, Rng(seed, 3));
    std::vector<cd> g1(static_cast<std::size_t>(seconds * rate)), g2(g1.size());
    for (std::size_t i = 0; i < g1.size(); ++i) {
        g1[i] = path1.step();
        g2[i] = path2.step();
    }
    GainStats s;
    double p2 = 0.0, p4 = 0.0;
    cd c{};
    for (std::size_t i = 0; i < g1.size(); ++i) {
        p2 += std::norm(g1[i]);
        p4 += std::norm(g1[i]) * std::norm(g1[i]);
        c += g1[i] * std::conj(g2[i]);
    }
    const double n = static_cast<double>(g1.size());
    s.power = p2 / n;
    s.kurtosis = (p4 / n) / (s.power * s.power);
    s.cross = std::abs(c / n) / s.power;
    // Lag where a Gaussian spectrum of the nominal spread gives rho = exp(-1/4).
    const double sigma = spread_hz / 2.0;
    const double tau = std::sqrt(0.25 / (2.0 * std::numbers::pi * std::numbers::pi)) / sigma;
    const auto lag = static_cast<std::size_t>(std::round(tau * rate));
    const cd rho1 = probe::autocorrelation(g1, lag);
    const cd rho2 = probe::autocorrelation(g1, 2 * lag);
    s.sigma_hz = probe::doppler_sigma(rho1.real(), static_cast<double>(lag) / rate);
    s.shape = std::log(rho2.real()) / std::log(rho1.real());
    s.rho_imag = rho1.imag();
    return s;
}

TEST(DopplerGain, RayleighWithAGaussianSpectrumOfTheGivenSpread) {
    // 2000 / spread seconds hold about 6000 coherence times for every profile, so the power and
    // the autocorrelation are estimated to about 1.5 % (checked over several seeds); the
    // tolerances below are four to five times that.
    for (Fading f : {Fading::good, Fading::moderate, Fading::poor}) {
        const double spread = fading_profile(f).spread_hz;
        const GainStats s = measure_gain(spread, 2000.0 / spread, 11 + static_cast<int>(f));
        SCOPED_TRACE(fading_name(f));
        EXPECT_NEAR(s.power, 0.5, 0.5 * 0.06);
        EXPECT_NEAR(s.kurtosis, 2.0, 0.15);  // 1 for a steady gain, 2 for Rayleigh
        EXPECT_NEAR(2.0 * s.sigma_hz, spread, spread * 0.06);
        EXPECT_NEAR(s.shape, 4.0, 0.3);  // 2 for an exponential (Lorentzian) spectrum
        EXPECT_NEAR(s.rho_imag, 0.0, 0.03);
        EXPECT_LT(s.cross, 0.05);
    }
}

TEST(DopplerGain, StationaryFromTheFirstSample) {
    // Across many seeds, the very first gain already has the full mean power: the filter is
    // filled before it is used, so a file does not start with a fade-in. |g|^2 is exponential
    // with mean 0.5 and standard deviation 0.5, so 2000 seeds give 0.5 +- 0.011; tolerance 4.5
    // sigma.
    const FadingProfile p = fading_profile(Fading::moderate);
    double sum = 0.0;
    const int seeds = 2000;
    for (int seed = 0; seed < seeds; ++seed) {
        DopplerGain g(probe::rate, p.spread_hz, 0.5, Rng(static_cast<std::uint64_t>(seed), 2));
        sum += std::norm(g.step());
    }
    EXPECT_NEAR(sum / seeds, 0.5, 0.05);
}

TEST(DopplerGain, RejectsParametersOutsideItsRange) {
    EXPECT_THROW(DopplerGain(48000.0, 0.0, 0.5, Rng(1)), std::invalid_argument);
    EXPECT_THROW(DopplerGain(48000.0, -1.0, 0.5, Rng(1)), std::invalid_argument);
    EXPECT_THROW(DopplerGain(100.0, 2.0, 0.5, Rng(1)), std::invalid_argument);  // > rate / 64
    EXPECT_THROW(DopplerGain(48000.0, 1.0, std::nan(""), Rng(1)), std::invalid_argument);
    EXPECT_THROW(TwoPathChannel(48000.0, {1.0, 1.0}, 1), std::invalid_argument);  // 1 s delay
    EXPECT_EQ(TwoPathChannel(48000.0, fading_profile(Fading::poor), 1).delay_samples(), 96);
}

}  // namespace
}  // namespace tarpo::sim
