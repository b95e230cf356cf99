// The graph's seven views, pixel for pixel, and the widget's clicks.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <cmath>

#include "ui/graph_canvas.h"
#include "ui/graph_widget.h"

namespace tarpo::ui {
namespace {

constexpr int mid = 130;   // (0 + 260) / 2
constexpr int base = 259;  // bottom - 1

QRgb waterfall_rgb(double magnitude) {
    const Rgb c = waterfall_colour(magnitude, WaterfallScale{});
    return qRgb(c.red, c.green, c.blue);
}

GraphInput input_for(int mode) {
    GraphInput in;
    in.display_mode = mode;
    in.tuned_freq = 1500.0;
    return in;
}

class Graph : public ::testing::Test {
  protected:
    Graph() { canvas.display_init(); }
    QRgb at(int x, int y) const { return canvas.picture().pixel(x, y); }
    void paint(const GraphInput& in) { canvas.graph_paint(in, in.display_mode <= 8); }
    // Colour of every pixel of a row, from column `from` to `to` inclusive, equals `colour`.
    bool row_is(int y, int from, int to, QRgb colour) const {
        for (int x = from; x <= to; ++x) {
            if (at(x, y) != colour) return false;
        }
        return true;
    }
    GraphCanvas canvas;
};

TEST_F(Graph, ScopeSamplesAboutTheCentreRow) {
    GraphInput in = input_for(1);
    in.spectrum_input.fill(249);
    paint(in);
    EXPECT_TRUE(row_is(mid, 0, 398, pen_green));
    EXPECT_EQ(at(399, mid), pen_black);  // the last point of a line is not drawn
    EXPECT_EQ(at(10, mid + 1), pen_black);

    in.spectrum_input.fill(250);
    paint(in);
    EXPECT_TRUE(row_is(mid + 1, 0, 398, pen_green));
    EXPECT_TRUE(row_is(mid, 0, 399, pen_black));  // erased before painting

    in.spectrum_input.fill(-250);
    paint(in);
    EXPECT_TRUE(row_is(mid - 1, 0, 398, pen_green));

    // A step from sample 0 to 2500 (10 rows down) between columns 4 and 5 draws the vertical
    // run on column 4 and the new level from column 5.
    in.spectrum_input.fill(0);
    for (int i = 5; i < 400; ++i) in.spectrum_input[i] = 2500;
    paint(in);
    EXPECT_EQ(at(3, mid), pen_green);
    EXPECT_EQ(at(4, mid + 4), pen_green);
    EXPECT_EQ(at(5, mid + 10), pen_green);
}

TEST_F(Graph, SpectrumWithMarkerAndBandEdges) {
    GraphInput in = input_for(2);
    in.display_spectrum[50] = 100;  // 30 rows high
    paint(in);
    for (int y = 1; y <= base; ++y) {
        ASSERT_EQ(at(192, y), pen_red) << y;
        ASSERT_EQ(at(106, y), pen_blue) << y;
        ASSERT_EQ(at(278, y), pen_blue) << y;
    }
    // The lines run from the base up to the top, which they do not reach.
    EXPECT_EQ(at(192, 0), pen_black);
    EXPECT_EQ(at(106, 0), pen_black);
    EXPECT_EQ(at(191, 100), pen_black);
    EXPECT_EQ(at(193, 100), pen_black);
    // The trace: the base row, with the peak at column 50.
    EXPECT_EQ(at(10, base), pen_green);
    EXPECT_EQ(at(50, base - 30), pen_green);
    EXPECT_EQ(at(50, base - 31), pen_black);
    EXPECT_EQ(at(399, base), pen_black);

    // The marker follows the tuned frequency; a retune to 925 Hz puts it on column 100.
    in.tuned_freq = 925.0;
    paint(in);
    EXPECT_EQ(at(100, 50), pen_red);
    EXPECT_EQ(at(14, 50), pen_blue);
    EXPECT_EQ(at(186, 50), pen_blue);
    EXPECT_EQ(at(192, 50), pen_black);
}

TEST_F(Graph, FreqacqDrawsColumns100To299) {
    GraphInput in = input_for(3);
    in.display_spectrum.fill(50);  // 15 rows up, but entries outside 100..299 are not drawn
    paint(in);
    EXPECT_EQ(at(99, base), pen_green);  // the trace starts on the base line at column 99
    EXPECT_EQ(at(100, base - 15), pen_green);
    EXPECT_EQ(at(250, base - 15), pen_green);
    EXPECT_EQ(at(299, base - 15), pen_green);  // then falls back to the base at column 300
    EXPECT_EQ(at(300, base), pen_black);
    EXPECT_EQ(at(50, base), pen_black);
    EXPECT_EQ(at(350, base - 15), pen_black);
    EXPECT_EQ(at(192, 10), pen_red);
    EXPECT_EQ(at(106, 10), pen_black);  // no band edges in this view
}

TEST_F(Graph, ConstellationHasAxesAUnitCircleAndFadingPoints) {
    GraphInput in = input_for(4);
    // Every point at magnitude 10: the unit circle (radius 97) stands for it.
    in.constellation_re.fill(0);
    in.constellation_im.fill(10);
    in.constellation_re[3] = 10;  // one point straight down
    in.constellation_im[3] = 0;
    in.timing_marker = -10.9;  // truncates to 10 left of the centre
    paint(in);
    EXPECT_EQ(at(5, mid), axis_grey);
    EXPECT_EQ(at(200, 250), axis_grey);
    EXPECT_EQ(at(150, mid + 20), pen_black);
    const QRgb newest = qRgb(0, 255, 0);
    // The imaginary part runs across, the real part downward; points are 3 pixels wide.
    for (int d = -1; d <= 1; ++d) {
        EXPECT_EQ(at(297 + d, mid + d), newest) << d;
        EXPECT_EQ(at(200 + d, mid + 97 - d), newest) << d;
    }
    for (int y = 0; y < 30; ++y) ASSERT_EQ(at(190, y), pen_red) << y;

    // The next paints move the points away: the old ones stay, dimmer each paint, for
    // constellation_ticks paints.
    in.constellation_re.fill(-10);
    in.constellation_im.fill(0);
    int previous_green = 256;
    for (int t = 1; t < GraphCanvas::constellation_ticks; ++t) {
        paint(in);
        const int green = qGreen(at(298, mid + 1));
        EXPECT_GT(green, 30) << t;
        EXPECT_LT(green, previous_green) << t;
        previous_green = green;
        EXPECT_EQ(at(200, mid - 97), newest);
    }
    paint(in);
    EXPECT_EQ(at(298, mid + 1), pen_black);  // gone
}

TEST_F(Graph, PhaseErrorBarsOnTheAxis) {
    GraphInput in = input_for(5);
    in.error_bars[0] = 10.7;
    in.error_bars[14] = -5;
    paint(in);
    EXPECT_TRUE(row_is(mid, 0, 24, pen_blue));
    for (int y = mid; y > mid - 10; --y) ASSERT_EQ(at(25, y), pen_green) << y;
    EXPECT_EQ(at(25, mid - 10), pen_black);
    EXPECT_EQ(at(50, mid), pen_blue);  // a zero bar draws nothing over the axis
    for (int y = mid; y < mid + 5; ++y) ASSERT_EQ(at(375, y), pen_green) << y;
    EXPECT_EQ(at(375, mid + 5), pen_black);
    EXPECT_EQ(at(399, mid), pen_blue);
}

TEST_F(Graph, UnreachableViewsPaintNothing) {
    GraphInput in = input_for(1);
    in.spectrum_input.fill(1000);
    paint(in);
    for (int mode : {6, 7, 8, 0, -3, 11}) {
        in.display_mode = mode;
        canvas.graph_paint(in, mode <= 8);
        EXPECT_EQ(at(100, mid + 4), pen_black) << mode;
    }
    for (int y = 0; y < 260; y += 7) ASSERT_TRUE(row_is(y, 0, 399, pen_black)) << y;
}

TEST_F(Graph, WaterfallRowsClimbAndWrap) {
    GraphInput in = input_for(9);
    auto paint_level = [&](double v) {
        in.display_spectrum.fill(v);
        paint(in);
    };
    const QRgb blue100 = waterfall_rgb(100);
    const QRgb cyan = waterfall_rgb(200);
    ASSERT_NE(blue100, cyan);
    EXPECT_EQ(canvas.waterfall_row(), 0);
    paint_level(100);  // row 0
    EXPECT_TRUE(row_is(0, 0, 399, blue100));
    EXPECT_EQ(canvas.waterfall_row(), -1);
    paint_level(300);  // row -1: off the picture
    EXPECT_EQ(canvas.waterfall_row(), 260);
    paint_level(300);  // row 260 (bottom): off the picture; the cursor moves to 259
    EXPECT_EQ(canvas.waterfall_row(), 259);
    EXPECT_TRUE(row_is(0, 0, 399, blue100));
    // Cursor on row 259: blue, red over the band 106..277.
    EXPECT_TRUE(row_is(259, 0, 105, pen_blue));
    EXPECT_TRUE(row_is(259, 106, 277, pen_red));
    EXPECT_TRUE(row_is(259, 278, 399, pen_blue));
    paint_level(200);  // row 259 (bottom - 1)
    EXPECT_TRUE(row_is(259, 0, 399, cyan));
    EXPECT_EQ(canvas.waterfall_row(), 258);
    EXPECT_TRUE(row_is(258, 106, 277, pen_red));
    // Nothing is erased between paints: 258 more paints climb back to row 0, over the old line.
    for (int i = 0; i < 258; ++i) paint_level(0.0);
    EXPECT_EQ(canvas.waterfall_row(), 0);
    EXPECT_TRUE(row_is(1, 0, 399, pen_black));
    EXPECT_TRUE(row_is(0, 106, 277, pen_red));  // the cursor, over the first line
    EXPECT_TRUE(row_is(0, 0, 105, pen_blue));
}

TEST_F(Graph, AViewChangeClearsThePicture) {
    GraphInput in = input_for(1);
    in.spectrum_input.fill(10000);  // the transmitter's scope trace 40 rows below the centre
    paint(in);
    ASSERT_EQ(at(50, mid + 40), pen_green);
    in.display_mode = 9;  // the end of a transmission goes back to the waterfall
    paint(in);
    EXPECT_EQ(at(50, mid + 40), pen_black);
    in.display_mode = 2;
    in.display_spectrum.fill(100);  // a trace 30 rows above the base
    paint(in);
    ASSERT_EQ(at(50, base - 30), pen_green);
    in.display_mode = 9;
    paint(in);
    EXPECT_EQ(at(50, base - 30), pen_black);
}

TEST_F(Graph, ScrollingWaterfallMovesOneRowPerPaint) {
    GraphInput in = input_for(10);
    const QRgb a = waterfall_rgb(50);
    const QRgb b = waterfall_rgb(150);
    ASSERT_NE(a, b);
    in.display_spectrum.fill(50);
    paint(in);
    // Newest line on row 3, below three rows of black with the red band bar on rows 1 and 2.
    EXPECT_TRUE(row_is(3, 0, 399, a));
    EXPECT_TRUE(row_is(4, 0, 399, pen_black));
    EXPECT_TRUE(row_is(0, 0, 399, pen_black));
    for (int y : {1, 2}) {
        EXPECT_TRUE(row_is(y, 0, 105, pen_black));
        EXPECT_TRUE(row_is(y, 106, 277, pen_red));
        EXPECT_TRUE(row_is(y, 278, 399, pen_black));
    }
    // The byte picture: bottom-up rows of blue, green, red.
    const std::uint8_t* bytes = canvas.scroll_image();
    EXPECT_EQ(bytes[310800], qBlue(a));
    EXPECT_EQ(bytes[310801], qGreen(a));
    EXPECT_EQ(bytes[310800 - 1200], 0);

    in.display_spectrum.fill(150);
    paint(in);
    EXPECT_TRUE(row_is(3, 0, 399, b));
    EXPECT_TRUE(row_is(4, 0, 399, a));
    EXPECT_TRUE(row_is(5, 0, 399, pen_black));
    EXPECT_EQ(bytes[310800 - 1200], qBlue(a));
    EXPECT_EQ(bytes[310800 + 1], qGreen(b));

    // Leaving the view and coming back resumes the old picture instead of clearing it.
    in.display_mode = 1;
    paint(in);
    in.display_mode = 10;
    in.display_spectrum.fill(0);
    paint(in);
    EXPECT_TRUE(row_is(4, 0, 399, b));
    EXPECT_TRUE(row_is(5, 0, 399, a));

    // A line reaches the control's last row after 254 more paints, and then falls off: the
    // picture's bottom three rows lie below the control.
    for (int i = 0; i < 254; ++i) paint(in);
    EXPECT_TRUE(row_is(259, 0, 399, a));
    EXPECT_TRUE(row_is(258, 0, 399, b));
    paint(in);
    EXPECT_TRUE(row_is(259, 0, 399, b));
    EXPECT_EQ(bytes[2 * 1200], qBlue(a));  // A, still in memory, below the control
}

TEST_F(Graph, WildInputDrawsWithoutTrouble) {
    GraphInput in = input_for(1);
    in.spectrum_input.fill(1e308);
    in.spectrum_input[7] = std::nan("");
    in.spectrum_input[9] = -INFINITY;
    in.display_spectrum.fill(-1e308);
    in.display_spectrum[3] = INFINITY;
    in.error_bars.fill(1e200);
    in.constellation_re.fill(std::nan(""));
    in.timing_marker = 1e30;
    in.tuned_freq = -1e300;
    for (int mode : {1, 2, 3, 4, 5, 9, 10}) {
        in.display_mode = mode;
        paint(in);
    }
    SUCCEED();
}

TEST(GraphWidgetTest, ShowsThePictureAndReportsClicks) {
    GraphWidget widget;
    EXPECT_EQ(widget.size(), QSize(400, 260 + GraphWidget::scale_height));
    EXPECT_EQ(widget.cursor().shape(), Qt::CrossCursor);
    widget.display_init();
    widget.show();
    GraphInput in = input_for(2);
    widget.graph_invalidate(in);
    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(192, 100), pen_red);
    EXPECT_EQ(shown.pixel(106, 100), pen_blue);
    EXPECT_EQ(shown.pixel(278, 100), pen_blue);
    EXPECT_EQ(shown.pixel(10, 10), pen_black);

    QSignalSpy left(&widget, &GraphWidget::acquisition_requested);
    QSignalSpy right(&widget, &GraphWidget::tuning_requested);
    QTest::mouseClick(&widget, Qt::RightButton, {}, QPoint(40, 200));
    QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(300, 20));
    QTest::mouseClick(&widget, Qt::MiddleButton, {}, QPoint(300, 20));
    ASSERT_EQ(right.count(), 1);
    EXPECT_EQ(right.at(0).at(0).toInt(), 40);
    EXPECT_EQ(left.count(), 1);
}

}  // namespace
}  // namespace tarpo::ui
