// The waterfall's dBFS scale and display.txt.
#include <gtest/gtest.h>

#include <QApplication>
#include <cmath>
#include <vector>

#include "modem/analyser.h"
#include "sim/rng.h"
#include "ui/display_settings.h"
#include "ui/ui_maths.h"

namespace tarpo::ui {
namespace {

int brightness(Rgb c) {
    return c.red + c.green + c.blue;
}

// The strongest bin of the receiver's spectrum of 960 samples at 6000 Hz.
double peak_magnitude(const std::vector<double>& input) {
    modem::SpectrumAnalyser analyser;
    std::array<double, modem::spectrum_bins> out{};
    analyser.compute(input.data(), out.data());
    return *std::max_element(out.begin() + 1, out.end());
}

std::vector<double> tone(double dbfs, double hz) {
    std::vector<double> x(modem::spectrum_length);
    const double a = 32767.0 * std::pow(10.0, dbfs / 20.0);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = a * std::sin(6.283185307179586 * hz * n / 6000.0);
    return x;
}

TEST(WaterfallScale, FollowsDbfsNotTheSignalsPeak) {
    // On a bin and between two: the level is the tone's within the window's scalloping.
    EXPECT_NEAR(spectrum_dbfs(peak_magnitude(tone(-10, 1500.0))), -10.0, 0.1);
    EXPECT_NEAR(spectrum_dbfs(peak_magnitude(tone(-40, 1503.125))), -40.0, 1.6);

    const WaterfallScale scale;  // white at -10 dBFS, black at -70
    const Rgb strong = waterfall_colour(peak_magnitude(tone(-10, 1500.0)), scale);
    const Rgb weak = waterfall_colour(peak_magnitude(tone(-40, 1500.0)), scale);
    EXPECT_EQ(strong, (Rgb{255, 255, 255}));
    EXPECT_LT(brightness(weak), brightness(strong) - 300);
    EXPECT_GT(brightness(weak), 200);  // still plainly a signal

    // A receiver's noise floor: white noise 50 dB below full scale, every bin dark.
    sim::Rng rng(3);
    std::vector<double> noise(modem::spectrum_length);
    for (double& v : noise) v = 32767.0 * std::pow(10.0, -50.0 / 20.0) * rng.gaussian();
    EXPECT_LT(brightness(waterfall_colour(peak_magnitude(noise), scale)), 60);

    // The level, not the colours' own range: moving white down brightens the weak tone.
    WaterfallScale brighter = scale;
    brighter.top_dbfs = -40.0;
    EXPECT_EQ(waterfall_colour(peak_magnitude(tone(-40, 1500.0)), brighter), (Rgb{255, 255, 255}));
    // Nothing and nonsense are black.
    for (const double m : {0.0, -1.0, std::nan("")})
        EXPECT_EQ(waterfall_colour(m, scale), (Rgb{0, 0, 0}));
}

TEST(DisplaySettings, RoundTripAndHostileText) {
    WaterfallScale s;
    s.top_dbfs = -25.5;
    s.range_db = 80.0;
    s.rows_per_tick = 3;
    std::vector<std::string> notes;
    EXPECT_EQ(read_display_settings(display_settings_text(s), notes), s);
    EXPECT_TRUE(notes.empty());

    const WaterfallScale defaults;
    const std::string bad =
        "top_dbfs 5\nrange_db nan\nrows_per_tick 2.5\ncolour red\n\n   \ntop_dbfs\n"
        "range_db 1e999\nrows_per_tick -1\x01\n";
    EXPECT_EQ(read_display_settings(bad, notes), defaults);
    EXPECT_EQ(notes.size(), 7u);
    for (const std::string& n : notes)
        for (const char c : n) ASSERT_TRUE(c >= 32 && c < 127) << n;
    notes.clear();
    // A good line after a bad one of the same key still counts.
    EXPECT_EQ(read_display_settings("rows_per_tick 9\nrows_per_tick 4\r\n", notes).rows_per_tick,
              4);
}

}  // namespace
}  // namespace tarpo::ui
