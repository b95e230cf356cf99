// The graph's drawing, apart from any widget: seven views of the signal drawn into a picture
// that persists between paints (the line-by-line waterfall builds on what earlier paints left),
// plus the scrolling waterfall's own bottom-up byte picture. The widget only shows the picture.
#pragma once

#include <QImage>
#include <array>
#include <complex>
#include <cstdint>
#include <memory>

#include "engine/display_mode.h"
#include "modem/analyser.h"
#include "modem/constants.h"
#include "ui/ui_maths.h"

namespace tarpo::ui {

// Everything one paint reads, copied from the engine's monitor and display arrays on
// the user-interface thread just before painting.
struct GraphInput {
    int display_mode = engine::display_waterfall;
    double tuned_freq = 1500.0;  // Hz
    std::array<double, modem::spectrum_bins>
        spectrum_input{};  // 16-bit units (scope: entries 0..399)
    std::array<double, modem::spectrum_bins>
        display_spectrum{};                            // per column, view-dependent scale
    std::array<double, modem::carriers> error_bars{};  // pixels, larger reaches higher
    std::array<double, 32> constellation_re{};         // symbol samples x 8
    std::array<double, 32> constellation_im{};
    double timing_marker = 0.0;  // pixels from the centre, [-200, 200)
    WaterfallScale waterfall{};  // both waterfalls' colours and speed
};

// Colours of the four pens and the two pixel colours.
inline constexpr QRgb pen_blue = 0xff0000ffu;
inline constexpr QRgb pen_green = 0xff00ff00u;
inline constexpr QRgb pen_red = 0xffff0000u;
inline constexpr QRgb pen_black = 0xff000000u;
inline constexpr QRgb light_grey = 0xffc8c8c8u;
inline constexpr QRgb dark_green = 0xff00c800u;
inline constexpr QRgb axis_grey = 0xff505050u;

// Sets one pixel; positions outside the picture are ignored.
void set_pixel(QImage& image, int x, int y, QRgb colour);
// A line from (x0, y0) toward (x1, y1), the end point itself excluded, one pixel per step of
// the longer axis; the shorter axis rounds half away from the start. Clipped to the picture.
void draw_line(QImage& image, int x0, int y0, int x1, int y1, QRgb colour);

class GraphCanvas {
  public:
    // The scrolling waterfall's picture: 400 x 260, 3 bytes (blue, green, red) per pixel,
    // 1200 bytes per row without padding, the first row in memory the bottom row on screen.
    static constexpr int scroll_width = 400;
    static constexpr int scroll_height = 260;
    static constexpr int scroll_stride = scroll_width * 3;
    static constexpr int scroll_bytes = scroll_stride * scroll_height;  // 312000
    // The picture is shown this many rows below the control's top; its bottom rows fall off.
    static constexpr int scroll_offset = 3;

    // The client area in pixels; the views keep their fixed columns at any size and take only
    // vertical positions and full-width lines from it.
    explicit GraphCanvas(int width = graph_columns, int height = graph_rows);

    // Creates the scrolling waterfall's picture; once, before the first paint.
    void display_init();
    bool initialised() const { return scroll_image_ != nullptr; }

    // Draws the view of input.display_mode over what the picture holds, after clearing it to
    // black when `erase` is set (the caller erases for views 1..8 only) or when the view
    // changed since the last paint (no trace of one view stays under another, nor the
    // transmitter's scope under the waterfall after a transmission).
    void graph_paint(const GraphInput& input, bool erase);

    // The constellation view: its points fade out over this many paints; the unit circle
    // stands for the points' recent root-mean-square magnitude.
    static constexpr int constellation_ticks = 8;
    static constexpr int constellation_point = 3;  // pixels across

    const QImage& picture() const { return picture_; }
    int waterfall_row() const { return waterfall_row_; }
    const std::uint8_t* scroll_image() const {
        return scroll_image_ ? scroll_image_->data() : nullptr;
    }

  private:
    void paint_scope(const GraphInput& in);
    void paint_spectrum(const GraphInput& in, int marker_x);
    void paint_freqacq(const GraphInput& in, int marker_x);
    void paint_constellation(const GraphInput& in);
    void paint_phase_error(const GraphInput& in);
    void paint_waterfall(const GraphInput& in, int marker_x);
    void paint_scrolling_waterfall(const GraphInput& in, int marker_x);

    QImage picture_;
    // Client rectangle; left and top are 0, right and bottom exclusive.
    int right_;
    int bottom_;
    int waterfall_row_ = 0;  // screen row the line-by-line waterfall fills next
    std::unique_ptr<std::array<std::uint8_t, scroll_bytes>> scroll_image_;
    int scroll_image_mode_ = 0;  // display_mode when scroll_image_ was last cleared
    int painted_mode_ = 0;       // display_mode of the last paint, 0 before the first

    // The constellation's last paints' points, scaled to the unit circle (NaN: none).
    using ConstellationPoints = std::array<std::complex<double>, 32>;
    std::array<ConstellationPoints, constellation_ticks> constellation_history_{};
    int constellation_next_ = 0;      // the entry the next paint fills
    double constellation_rms_ = 0.0;  // smoothed root-mean-square magnitude, 0 before any
};

}  // namespace tarpo::ui
