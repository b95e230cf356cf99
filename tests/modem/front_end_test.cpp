// The receiver front end: filter bank orientation and selectivity, symbol clock on silence,
// and the timing interpolator.
#include <gtest/gtest.h>

#include <cmath>

#include "modem/station.h"

namespace {

using namespace tarpo;
using dsp::ComplexSample;

TEST(FrontEnd, SilenceTakesASymbolEvery240Samples) {
    modem::Station station;
    int last = -1;
    int symbols = 0;
    for (int n = 0; n < 240 * 20; ++n) {
        if (station.demod_sample(0.0) == modem::RxEvent::none) continue;
        if (last >= 0) {
            EXPECT_EQ(n - last, 240);
        }
        last = n;
        ++symbols;
        for (const auto& s : station.front_end().symbol_sample()) EXPECT_EQ(s, ComplexSample());
        EXPECT_EQ(station.front_end().timing_marker(), -200.0);  // mu = 0
    }
    EXPECT_EQ(symbols, 20);
    EXPECT_EQ(station.front_end().timing_acc()[0], 0.0);
    EXPECT_EQ(station.phase_error(), 0.0);
}

TEST(FrontEnd, ToneLandsOnItsCarrierOnlyWithSteadyPhase) {
    // A tone at tuned_freq + (i - 7) x 75 Hz of amplitude 1000 gives about 500 at carrier i
    // and at least two orders of magnitude less elsewhere; its phase does not move from one
    // filter-bank output to the next.
    for (int carrier : {0, 3, 7, 11, 14}) {
        modem::Station station;
        // Keep the AFC from moving the receiver while the tone plays.
        const double f = 1500.0 + (carrier - 7) * 75.0;
        double prev_phase = 0;
        int outputs = 0;
        for (int n = 0; n < 12000; ++n) {
            station.demod_sample(1000.0 * std::cos(2 * M_PI * f * n / 12000.0));
            station.tuning().tune(1500.0);
            if (n % 60 != 59 || n < 6000) continue;  // after each filter-bank run, settled
            const auto& fe = station.front_end();
            const ComplexSample y = fe.history(0, carrier);
            EXPECT_NEAR(std::abs(y), 500.0, 25.0) << carrier;
            for (int other = 0; other < 15; ++other)
                if (other != carrier) {
                    EXPECT_LT(std::abs(fe.history(0, other)), 5.0) << other;
                }
            if (outputs++ > 0) {
                EXPECT_NEAR(std::arg(y), prev_phase, 1e-3) << carrier;
            }
            prev_phase = std::arg(y);
        }
        EXPECT_GT(outputs, 90);
    }
}

TEST(FrontEnd, OscillatorAt1500HzRepeatsEveryEightSamples) {
    modem::Station station;
    double phases[16];
    for (double& p : phases) {
        station.demod_sample(0.0);
        p = station.front_end().rx_phase();
    }
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(phases[i], phases[i + 8], 1e-6);
}

TEST(FrontEnd, Interpolator) {
    using modem::FrontEnd;
    EXPECT_EQ(FrontEnd::interpolate(7, 3, 5, 11, 0.0), 5.0);  // mu = 0 gives y2 exactly
    EXPECT_NEAR(FrontEnd::interpolate(7, 3, 5, 11, 1.0 - 1e-12), 3.0, 1e-9);
    // Points on a straight line (y3 oldest ... y0 newest): linear between y2 and y1.
    for (double mu : {0.1, 0.25, 0.5, 0.9})
        EXPECT_NEAR(FrontEnd::interpolate(4, 3, 2, 1, mu), 2 + mu, 1e-12);
}

}  // namespace
