// The window's arithmetic: dialog units, graph columns and rows, colours, meters, and the line
// drawing against a slow reference.
#include <gtest/gtest.h>

#include <QImage>
#include <climits>
#include <cmath>
#include <random>
#include <set>
#include <utility>

#include "ui/graph_canvas.h"
#include "ui/ui_maths.h"

namespace tarpo::ui {
namespace {

TEST(DialogUnits, GraphAndWindowSizes) {
    // The graph's 267 x 160 units must be exactly the 400 x 260 pixels its views assume.
    const PixelRect graph = dialog_rect(42, 5, 267, 160);
    EXPECT_EQ(graph.x, 63);
    EXPECT_EQ(graph.y, 8);
    EXPECT_EQ(graph.width, 400);
    EXPECT_EQ(graph.height, 260);
    EXPECT_EQ(dialog_x(351), 526);
    EXPECT_EQ(dialog_y(194), 315);
    EXPECT_EQ(dialog_x(-2), -3);  // truncation toward zero, like the rest of the program
}

TEST(GraphColumns, MarkerAndFrequencyRoundTrip) {
    EXPECT_EQ(marker_column(1500.0), 192);
    EXPECT_EQ(marker_column(925.0), 100);
    EXPECT_DOUBLE_EQ(column_frequency(0), 300.0);
    EXPECT_DOUBLE_EQ(column_frequency(399), 2793.75);
    // A click tunes to the column's frequency; the marker must land back on that very column
    // (0.16 as a double lies just above 0.16, so the truncation never falls one short).
    for (int x = 0; x < graph_columns; ++x) EXPECT_EQ(marker_column(column_frequency(x)), x) << x;
    // Frequencies between columns truncate down.
    EXPECT_EQ(marker_column(1506.24), 192);
    EXPECT_EQ(marker_column(1506.25), 193);
}

TEST(GraphRows, ScopeAndSpectrumTruncateTowardZero) {
    EXPECT_EQ(scope_row(130, 249), 130);
    EXPECT_EQ(scope_row(130, 250), 131);
    EXPECT_EQ(scope_row(130, -249), 130);
    EXPECT_EQ(scope_row(130, -250), 129);
    EXPECT_EQ(scope_row(130, 32767), 130 + 131);
    EXPECT_EQ(spectrum_row(259, 3.33), 259);
    EXPECT_EQ(spectrum_row(259, 3.34), 258);
    EXPECT_EQ(spectrum_row(259, -10), 262);
    // Wild values saturate instead of overflowing.
    EXPECT_EQ(scope_row(0, 1e300), 1000000000);
    EXPECT_EQ(scope_row(130, -1e300), 130 - 1000000000);
    EXPECT_EQ(scope_row(0, std::nan("")), 0);
}

TEST(IntensityColour, DesignValues) {
    EXPECT_EQ(intensity_colour(127), (Rgb{0, 0, 254}));
    EXPECT_EQ(intensity_colour(127.5), (Rgb{0, 0, 255}));
    EXPECT_EQ(intensity_colour(300), (Rgb{90, 255, 255}));
    EXPECT_EQ(intensity_colour(400), (Rgb{255, 255, 255}));
    EXPECT_EQ(intensity_colour(1e9), (Rgb{255, 255, 255}));
    EXPECT_EQ(intensity_colour(-5), (Rgb{0, 0, 0}));
    EXPECT_EQ(intensity_colour(0.49), (Rgb{0, 0, 0}));
    EXPECT_EQ(intensity_colour(std::nan("")), (Rgb{0, 0, 0}));
}

TEST(IntensityColour, ClimbsBlueThenGreenThenRed) {
    // The three channels fill one after the other: their sum is trunc(2v) up to white (765),
    // and a channel only starts once the one before it is full.
    Rgb previous{};
    for (double v = -2.0; v <= 420.0; v += 0.125) {
        const Rgb c = intensity_colour(v);
        const int n = std::clamp(static_cast<int>(2.0 * v), 0, 765);
        EXPECT_EQ(c.red + c.green + c.blue, n) << v;
        if (c.green > 0) {
            EXPECT_EQ(c.blue, 255) << v;
        }
        if (c.red > 0) {
            EXPECT_EQ(c.green, 255) << v;
        }
        EXPECT_GE(c.blue, previous.blue);
        EXPECT_GE(c.green, previous.green);
        EXPECT_GE(c.red, previous.red);
        previous = c;
    }
}

TEST(Clicks, LowSixteenBitsUnsigned) {
    EXPECT_EQ(click_column(40), 40);
    EXPECT_EQ(click_column(0), 0);
    EXPECT_EQ(click_column(-1), 65535);  // left of the control: clamped to 300 by the tuning
    EXPECT_EQ(click_column(65536 + 5), 5);
}

TEST(Meters, SquelchLevelFromSliderPosition) {
    // trunc(p x 0.15) agrees with the exact p x 15 / 100 at every position: 0.15's rounding
    // never pushes a product across an integer.
    for (int p = 0; p <= 100; ++p) EXPECT_EQ(squelch_level(p), p * 15 / 100) << p;
    EXPECT_EQ(squelch_level(50), 7);  // the start position gives the initial sq_level
    EXPECT_EQ(squelch_level(100), 15);
}

TEST(Meters, SnrFigures) {
    EXPECT_EQ(snr_db(0.01), 31);
    EXPECT_EQ(snr_db(std::nextafter(0.01, 0.0)), 0);
    EXPECT_EQ(snr_db(0.0), 0);
    EXPECT_EQ(snr_db(15.0), 0);
    EXPECT_EQ(snr_db(16.0), 0);  // -0.28 dB truncates to 0
    EXPECT_EQ(snr_db(150.0), -10);
    EXPECT_EQ(snr_db(4.0), 5);  // 5.74 dB
    EXPECT_EQ(snr_db(std::nan("")), 0);
    EXPECT_EQ(snr_db(INFINITY), -1000);
    // Never above 31 for any value at or above the threshold.
    for (double pe = 0.01; pe < 100; pe *= 1.07) EXPECT_LE(snr_db(pe), 31);
}

// ---------------------------------------------------------------- line drawing

using Pixels = std::set<std::pair<int, int>>;

Pixels lit(const QImage& image) {
    Pixels out;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != pen_black) out.insert({x, y});
        }
    }
    return out;
}

// Every step of the longer axis, from the start up to but excluding the end, with the shorter
// axis at the exact position rounded half away from the start.
Pixels reference_line(int x0, int y0, int x1, int y1, int width, int height) {
    Pixels out;
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    const int steps = std::max(std::abs(dx), std::abs(dy));
    for (int t = 0; t < steps; ++t) {
        const double fx = static_cast<double>(dx) * t / steps;
        const double fy = static_cast<double>(dy) * t / steps;
        auto round_away = [](double f) {
            return f >= 0 ? static_cast<int>(std::floor(f + 0.5))
                          : -static_cast<int>(std::floor(-f + 0.5));
        };
        const int x = x0 + round_away(fx);
        const int y = y0 + round_away(fy);
        if (x >= 0 && y >= 0 && x < width && y < height) out.insert({x, y});
    }
    return out;
}

TEST(DrawLine, MatchesSlowReference) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> coord(-25, 65);
    for (int trial = 0; trial < 3000; ++trial) {
        const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(pen_black);
        draw_line(image, x0, y0, x1, y1, pen_green);
        ASSERT_EQ(lit(image), reference_line(x0, y0, x1, y1, 40, 30))
            << x0 << "," << y0 << " -> " << x1 << "," << y1;
    }
}

TEST(DrawLine, EndPointExcludedAndEmptyLine) {
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(pen_black);
    draw_line(image, 2, 5, 6, 5, pen_red);
    EXPECT_EQ(lit(image), (Pixels{{2, 5}, {3, 5}, {4, 5}, {5, 5}}));
    image.fill(pen_black);
    draw_line(image, 4, 4, 4, 4, pen_red);
    EXPECT_TRUE(lit(image).empty());
}

TEST(DrawLine, HugeCoordinatesDrawOnlyTheVisiblePartQuickly) {
    // Saturated coordinates from wild data: a line two billion pixels long must cost no more
    // than the picture's height and light exactly the column it crosses.
    QImage image(20, 16, QImage::Format_RGB32);
    image.fill(pen_black);
    draw_line(image, 7, INT_MAX, 7, INT_MIN, pen_green);
    Pixels expected;
    for (int y = 0; y < 16; ++y) expected.insert({7, y});
    EXPECT_EQ(lit(image), expected);

    image.fill(pen_black);
    draw_line(image, INT_MIN, INT_MIN, INT_MAX, INT_MAX, pen_green);  // a diagonal through (0,0)
    Pixels diagonal;
    for (int i = 0; i < 16; ++i) diagonal.insert({i, i});
    EXPECT_EQ(lit(image), diagonal);
}

}  // namespace
}  // namespace tarpo::ui
