// Differential decisions, their regions, the AFC step and the quality figure.
#include "modem/decisions.h"

#include <gtest/gtest.h>

#include <cmath>

#include "modem/tuning.h"

namespace {

using namespace tarpo;
using dsp::ComplexSample;

struct Rig {
    modem::Tuning tuning;
    modem::Decisions decisions;
    std::array<ComplexSample, 15> samples{};

    // Decides the samples and steers the tuning with the correction, as the station does.
    void decide() {
        const double correction = decisions.decide_symbol(samples);
        if (!std::isnan(correction)) tuning.track(correction);
    }

    // Every carrier advanced by `quarters` quarter turns against the last symbol.
    void advance(double quarters) {
        for (auto& s : samples) {
            // theta = atan2(re, im): rotate so that theta grows by quarters x pi/2.
            const double theta = std::atan2(s.real(), s.imag()) + quarters * M_PI / 2;
            s = ComplexSample(std::sin(theta), std::cos(theta)) * 100.0;
        }
        decide();
    }
};

TEST(Decisions, IdenticalSymbolsDecideZeroAndDecayTheQuality) {
    Rig rig;
    rig.samples.fill(ComplexSample(30.0, 40.0));
    rig.decide();
    rig.advance(0.3);  // some error energy to decay
    const double before = rig.decisions.phase_error();
    EXPECT_GT(before, 0.0);
    const double f = rig.tuning.frequency();
    rig.advance(0.0);
    for (int d : rig.decisions.decisions()) EXPECT_EQ(d, 0);
    for (double e : rig.decisions.carrier_error()) EXPECT_NEAR(e, 0.0, 1e-9);
    EXPECT_NEAR(rig.decisions.phase_error(), 0.9 * before, 1e-9);
    EXPECT_EQ(rig.tuning.frequency(), f);
}

TEST(Decisions, Regions) {
    // (advance in quarter turns, data value, pilot value)
    const struct {
        double e;
        int data;
        int pilot;
    } cases[] = {{0.2, 0, 0}, {0.5, 1, 0},  {0.7, 1, 0}, {0.999, 1, 0}, {1.0, 1, 1},
                 {1.6, 2, 1}, {2.49, 2, 1}, {2.5, 3, 1}, {2.9, 3, 1},   {3.0, 3, 0},
                 {3.4, 3, 0}, {3.5, 0, 0},  {3.9, 0, 0}};
    for (const auto& c : cases) {
        Rig rig;
        rig.samples.fill(ComplexSample(0.0, 100.0));
        rig.decide();
        rig.advance(c.e);
        EXPECT_EQ(rig.decisions.decisions()[0], c.data) << c.e;
        EXPECT_EQ(rig.decisions.decisions()[7], c.pilot) << c.e;
    }
    Rig rig;  // e exactly 0.5 errs by -0.5
    rig.samples.fill(ComplexSample(0.0, 100.0));
    rig.decide();
    rig.advance(0.5);
    EXPECT_NEAR(rig.decisions.carrier_error()[3], -0.5, 1e-6);
}

TEST(Decisions, AfcStepForFiveHertz) {
    // 5 Hz above the receiver: 0.4 quarter turns per symbol on every carrier, decisions 0,
    // afc_sum 6.0 and a correction of +0.06 Hz.
    Rig rig;
    rig.samples.fill(ComplexSample(0.0, 100.0));
    rig.decide();
    const double f = rig.tuning.frequency();
    rig.advance(0.4);
    for (int d : rig.decisions.decisions()) EXPECT_EQ(d, 0);
    EXPECT_NEAR(rig.tuning.frequency() - f, 0.06, 1e-6);
    EXPECT_DOUBLE_EQ(rig.tuning.rx_step(), rig.tuning.frequency() / 12000 * 6.28318531);
    // 12.5 Hz: one whole extra quarter turn, no error, no correction; data reads one more,
    // the pilot inverts.
    const double g = rig.tuning.frequency();
    rig.advance(1.0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(rig.decisions.decisions()[static_cast<std::size_t>(i)], 1);
    EXPECT_NEAR(rig.tuning.frequency(), g, 1e-6);
}

TEST(Decisions, NonNumericSamplesSuppressTheCorrection) {
    Rig rig;
    rig.samples.fill(ComplexSample(std::nan(""), 1.0));
    const double f = rig.tuning.frequency();
    rig.decide();
    EXPECT_EQ(rig.tuning.frequency(), f);
    EXPECT_EQ(rig.decisions.phase_error(), 0.0);
}

TEST(Decisions, SnrMeter) {
    EXPECT_EQ(modem::snr_db(0.01), 31);
    EXPECT_EQ(modem::snr_db(0.0099), 0);
    EXPECT_EQ(modem::snr_db(15.0), 0);
    EXPECT_EQ(modem::snr_db(0.15), 20);
    EXPECT_EQ(modem::snr_db(std::nan("")), 0);
}

}  // namespace
