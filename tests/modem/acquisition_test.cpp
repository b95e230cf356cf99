// Spectrum analyser and frequency acquisition.
#include "modem/acquisition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace tarpo;
using modem::SpectrumAnalyser;

std::array<double, 400> compute(const SpectrumAnalyser& analyser,
                                const std::array<double, 960>& x) {
    std::array<double, 400> out{};
    analyser.compute(x.data(), out.data());
    return out;
}

TEST(Spectrum, MatchesTheDirectSumAndTheSineGoldenValues) {
    SpectrumAnalyser analyser;
    std::array<double, 960> x{};
    for (int n = 0; n < 960; ++n)
        x[static_cast<std::size_t>(n)] = 1000 * std::sin(2 * M_PI * 1500 * n / 6000.0);
    const auto s = compute(analyser, x);
    EXPECT_NEAR(s[192], 250, 1e-6);
    EXPECT_NEAR(s[191], 125, 1e-6);
    EXPECT_NEAR(s[193], 125, 1e-6);
    for (int j = 1; j < 400; ++j) {
        if (j < 191 || j > 193) {
            EXPECT_LT(s[static_cast<std::size_t>(j)], 1e-6) << j;
        }
    }
    EXPECT_EQ(s[0], 0.0);  // never written

    // Against the textbook DFT with closed-form window and twiddles, on noise.
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 3000);
    for (double& v : x) v = noise(rng);
    const auto fast = compute(analyser, x);
    for (int j = 1; j < 400; ++j) {
        double re = 0, im = 0;
        for (int n = 0; n < 960; ++n) {
            const double w =
                0.5 * (1 - std::cos(2 * M_PI * n / 960)) * x[static_cast<std::size_t>(n)];
            re += w * std::sin(2 * M_PI * (j + 48) * n / 960);
            im += w * std::cos(2 * M_PI * (j + 48) * n / 960);
        }
        ASSERT_NEAR(fast[static_cast<std::size_t>(j)], std::hypot(re, im) / 960, 1e-9) << j;
    }
}

struct Rig {
    SpectrumAnalyser analyser;
    modem::Acquisition acquisition;
    std::array<double, 400> spectrum{};
    bool receiving = true;

    // One display tick; the frequency it asks to tune to, or NaN.
    double tick(bool new_spectrum) {
        return acquisition.spectrum_tick(receiving, new_spectrum, spectrum);
    }
    // One spectrum from the worker, then one display tick.
    double tick_with(const std::array<double, 960>& x) {
        std::array<double, 400> out{};
        analyser.compute(x.data(), out.data());
        for (std::size_t j = 1; j < 400; ++j) spectrum[j] = out[j];
        return tick(true);
    }
};

TEST(Acquisition, FindsTheReversingPilot) {
    // A 1500 Hz carrier reversing every 40 ms: lines at 1487.5 and 1512.5 Hz, none at 1500.
    std::array<double, 960> x{};
    for (int n = 0; n < 960; ++n)
        x[static_cast<std::size_t>(n)] =
            1000 * std::sin(2 * M_PI * 1500 * n / 6000.0) * ((n / 240) % 2 ? -1 : 1);
    Rig rig;
    std::array<double, 400> s{};
    rig.analyser.compute(x.data(), s.data());
    EXPECT_NEAR(s[190], 159, 2);
    EXPECT_NEAR(s[194], 159, 2);
    EXPECT_LT(s[192], 1e-6);
    rig.acquisition.request_acquisition();
    EXPECT_EQ(rig.tick_with(x), 1500.0);
    EXPECT_TRUE(std::isnan(rig.tick_with(x)));  // served once
    // The metric (the freqacq view) peaks there and is zero outside bins 100..299.
    const auto& shown = rig.acquisition.acq_metric();
    EXPECT_EQ(std::max_element(shown.begin(), shown.end()) - shown.begin(), 192);
    EXPECT_EQ(shown[99], 0.0);
    EXPECT_EQ(shown[300], 0.0);
}

TEST(Acquisition, SilenceTiesAndDroppedRequests) {
    {
        Rig rig;  // nothing anywhere: bin 148, 1225 Hz
        rig.acquisition.request_acquisition();
        EXPECT_EQ(rig.tick_with({}), 1225.0);
    }
    {
        Rig rig;  // two equal maxima: the lower bin wins
        for (int j : {150, 154, 250, 254}) rig.spectrum[static_cast<std::size_t>(j)] = 100;
        rig.acquisition.request_acquisition();
        EXPECT_EQ(rig.tick(true), modem::bin_frequency(152));
    }
    {
        Rig rig;  // while transmitting a left click is dropped at the next tick
        rig.receiving = false;
        rig.acquisition.request_acquisition();
        EXPECT_TRUE(std::isnan(rig.tick(true)));
        rig.receiving = true;
        EXPECT_TRUE(std::isnan(rig.tick(true)));
    }
    {
        Rig rig;  // no new spectrum since the last tick: dropped too
        rig.acquisition.request_acquisition();
        EXPECT_TRUE(std::isnan(rig.tick(false)));
        EXPECT_TRUE(std::isnan(rig.tick(true)));
    }
    {
        Rig rig;  // a right click after a left one replaces it; a cancel drops it
        rig.acquisition.request_acquisition();
        EXPECT_EQ(rig.acquisition.tuning_at(200), 1550.0);
        EXPECT_TRUE(std::isnan(rig.tick(true)));
        rig.acquisition.request_acquisition();
        rig.acquisition.cancel_acquisition();
        EXPECT_TRUE(std::isnan(rig.tick(true)));
    }
}

TEST(Acquisition, RightClickClamps) {
    Rig rig;
    const std::pair<int, double> cases[] = {{50, 925},   {100, 925},   {200, 1550},    {300, 2175},
                                            {350, 2175}, {-5000, 925}, {1 << 30, 2175}};
    for (auto [x, f] : cases) EXPECT_EQ(rig.acquisition.tuning_at(x), f) << x;
}

}  // namespace
