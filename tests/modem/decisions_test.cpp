// Differential decisions, their regions, the AFC step and the quality figure.
#include "modem/decisions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace tarpo;

struct Rig {
    SharedState shared;
    modem::Tuning tuning{shared};
    modem::Decisions decisions{shared, tuning};
    std::array<ComplexSample, 15> samples{};

    // Every carrier advanced by `quarters` quarter turns against the last symbol.
    void advance(double quarters) {
        for (auto& s : samples) {
            // theta = atan2(re, im): rotate so that theta grows by quarters x pi/2.
            const double theta = std::atan2(s.real(), s.imag()) + quarters * M_PI / 2;
            s = ComplexSample(std::sin(theta), std::cos(theta)) * 100.0;
        }
        decisions.decide_symbol(samples);
    }
};

TEST(Decisions, IdenticalSymbolsDecideZeroAndDecayTheQuality) {
    Rig rig;
    rig.samples.fill(ComplexSample(30.0, 40.0));
    rig.decisions.decide_symbol(rig.samples);
    rig.advance(0.3);  // some error energy to decay
    const double before = rig.shared.phase_error.load();
    EXPECT_GT(before, 0.0);
    const double f = rig.shared.tuned_freq.load();
    rig.advance(0.0);
    for (int d : rig.decisions.decisions()) EXPECT_EQ(d, 0);
    for (const auto& e : rig.shared.carrier_error) EXPECT_NEAR(e.load(), 0.0, 1e-9);
    EXPECT_NEAR(rig.shared.phase_error.load(), 0.9 * before, 1e-9);
    EXPECT_EQ(rig.shared.tuned_freq.load(), f);
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
        rig.decisions.decide_symbol(rig.samples);
        rig.advance(c.e);
        EXPECT_EQ(rig.decisions.decisions()[0], c.data) << c.e;
        EXPECT_EQ(rig.decisions.decisions()[7], c.pilot) << c.e;
    }
    Rig rig;  // e exactly 0.5 errs by -0.5
    rig.samples.fill(ComplexSample(0.0, 100.0));
    rig.decisions.decide_symbol(rig.samples);
    rig.advance(0.5);
    EXPECT_NEAR(rig.shared.carrier_error[3].load(), -0.5, 1e-6);
}

TEST(Decisions, AfcStepForFiveHertz) {
    // 5 Hz above the receiver: 0.4 quarter turns per symbol on every carrier, decisions 0,
    // afc_sum 6.0 and a correction of +0.06 Hz.
    Rig rig;
    rig.samples.fill(ComplexSample(0.0, 100.0));
    rig.decisions.decide_symbol(rig.samples);
    const double f = rig.shared.tuned_freq.load();
    rig.advance(0.4);
    for (int d : rig.decisions.decisions()) EXPECT_EQ(d, 0);
    EXPECT_NEAR(rig.shared.tuned_freq.load() - f, 0.06, 1e-6);
    EXPECT_DOUBLE_EQ(rig.tuning.rx_step(), rig.shared.tuned_freq.load() / 12000 * 6.28318531);
    // 12.5 Hz: one whole extra quarter turn, no error, no correction; data reads one more,
    // the pilot inverts.
    const double g = rig.shared.tuned_freq.load();
    rig.advance(1.0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(rig.decisions.decisions()[static_cast<std::size_t>(i)], 1);
    EXPECT_NEAR(rig.shared.tuned_freq.load(), g, 1e-6);
}

TEST(Decisions, NonNumericSamplesSuppressTheCorrection) {
    Rig rig;
    rig.samples.fill(ComplexSample(std::nan(""), 1.0));
    const double f = rig.shared.tuned_freq.load();
    rig.decisions.decide_symbol(rig.samples);
    EXPECT_EQ(rig.shared.tuned_freq.load(), f);
    EXPECT_EQ(rig.shared.phase_error.load(), 0.0);
}

TEST(Decisions, SnrMeter) {
    EXPECT_EQ(modem::snr_db(0.01), 31);
    EXPECT_EQ(modem::snr_db(0.0099), 0);
    EXPECT_EQ(modem::snr_db(15.0), 0);
    EXPECT_EQ(modem::snr_db(0.15), 20);
    EXPECT_EQ(modem::snr_db(std::nan("")), 0);
}

}  // namespace
