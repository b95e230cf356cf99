// Golden numbers of the waveform's tables and of the tuning.
#include <gtest/gtest.h>

#include <numeric>

#include "dsp/filters.h"
#include "dsp/numeric.h"
#include "modem/modulator.h"
#include "modem/station.h"

namespace {

using namespace tarpo;

TEST(Tables, LowpassTaps) {
    EXPECT_NEAR(std::accumulate(dsp::lowpass30.begin(), dsp::lowpass30.end(), 0.0), 0.9951814038,
                1e-9);
    EXPECT_EQ(dsp::lowpass30[0], dsp::lowpass30[29]);
    EXPECT_EQ(dsp::tx_lowpass_taps[17], 0.5082362);
    EXPECT_EQ(dsp::tx_lowpass_taps[0], dsp::tx_lowpass_taps[34]);
    // The interpolators' gain factors are the reciprocals of their phase sums.
    double phase4 = 0;
    for (int k = 4; k <= 28; k += 4) phase4 += dsp::lowpass30[static_cast<std::size_t>(k)];
    EXPECT_NEAR(1.0 / phase4, 4.040142, 1e-6);
    double phase6 = 0;
    for (int k = 5; k <= 29; k += 6) phase6 += dsp::lowpass30[static_cast<std::size_t>(k)];
    EXPECT_NEAR(1.0 / phase6, 6.0331791914, 1e-8);
}

TEST(Tables, PulseTable) {
    const auto p = modem::pulse_table_build(0.5);
    EXPECT_NEAR(std::accumulate(p.begin(), p.end(), 0.0), 1.0, 1e-12);
    EXPECT_NEAR(std::accumulate(p.begin(), p.begin() + 192, 0.0), 0.9935, 5e-5);
    for (int j = 0; j < 96; ++j)
        EXPECT_NEAR(p[static_cast<std::size_t>(j)], p[static_cast<std::size_t>(191 - j)], 1e-15);
    EXPECT_NEAR(p[95], 0.0237855, 5e-8);
    EXPECT_NEAR(p[96], 0.0237855, 5e-8);
    EXPECT_NEAR(p[0], 0.000893561, 5e-10);
    EXPECT_NEAR(p[191], 0.000893561, 5e-10);
    EXPECT_NEAR(p[287], -0.000211951, 5e-10);
    EXPECT_EQ(std::max_element(p.begin(), p.end()) - p.begin(), 95);
}

TEST(Tables, CarrierPlanAndTuning) {
    modem::Station station;
    const auto& t = station.tables();
    EXPECT_DOUBLE_EQ(t.carrier_step[7], 0.0);
    EXPECT_DOUBLE_EQ(t.carrier_step[0], -7.0 / 32.0 * 6.2831853);
    EXPECT_DOUBLE_EQ(t.carrier_step[14], 7.0 / 32.0 * 6.2831853);
    EXPECT_EQ(t.carrier_offset[0], 3.14159265);
    EXPECT_EQ(t.carrier_offset[7], 0.0);
    EXPECT_EQ(t.carrier_offset[14], 3.14159265);

    EXPECT_DOUBLE_EQ(station.tuning().rx_step(), 0.78539816375);
    EXPECT_DOUBLE_EQ(station.tuning().tx_step(), 0.78539816375);
    // Split pins the transmitter to 1500 Hz, but only once the steps are derived again.
    station.tuning().set_split(true);
    EXPECT_DOUBLE_EQ(station.tuning().tx_step(), 0.78539816375);
    station.tuning().tune(1000.0);
    EXPECT_NEAR(station.tuning().rx_step(), 0.52359877583, 1e-11);
    EXPECT_DOUBLE_EQ(station.tuning().tx_step(), 0.78539816375);
    EXPECT_EQ(station.tuning().txid_frequency(), 1500.0);
    station.tuning().set_split(false);
    EXPECT_EQ(station.tuning().txid_frequency(), 1000.0);
    EXPECT_DOUBLE_EQ(station.tuning().tx_step(), 0.78539816375);
    station.tuning().apply_request();
    EXPECT_NEAR(station.tuning().tx_step(), 0.52359877583, 1e-11);
}

TEST(Numeric, NearestIntAndConversions) {
    EXPECT_EQ(dsp::nearest_int(0.5), 1);
    EXPECT_EQ(dsp::nearest_int(2.5), 3);
    EXPECT_EQ(dsp::nearest_int(-0.5), -1);
    EXPECT_EQ(dsp::nearest_int(-0.49), 0);
    EXPECT_EQ(dsp::nearest_int(0.49999), 0);
    EXPECT_EQ(dsp::nearest_int(3.5) & 3, 0);
    EXPECT_EQ(dsp::nearest_int(std::nan("")), INT_MIN);  // defined, not undefined behaviour
    EXPECT_EQ(dsp::nearest_int(1e300), INT_MAX);
    EXPECT_EQ(dsp::to_sample16(40000.0), 32767);
    EXPECT_EQ(dsp::to_sample16(-40000.0), -32768);
    EXPECT_EQ(dsp::to_sample16(-1.9), -1);  // truncation toward zero
    EXPECT_EQ(dsp::to_sample16(32766.9), 32766);
}

}  // namespace
