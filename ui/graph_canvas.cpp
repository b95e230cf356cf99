#include "ui/graph_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tarpo::ui {

namespace {

int trunc_int(double v) {
    return trunc_coordinate(v);
}

QRgb to_qrgb(Rgb c) {
    return qRgb(c.red, c.green, c.blue);
}

// A circle of the given radius about (cx, cy), one pixel per step of the longer axis.
void draw_circle(QImage& image, int cx, int cy, int radius, QRgb colour) {
    int x = radius;
    int y = 0;
    int error = 1 - radius;
    while (x >= y) {
        for (const auto& [dx, dy] :
             {std::pair{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}})
            set_pixel(image, cx + dx, cy + dy, colour);
        ++y;
        if (error < 0) {
            error += 2 * y + 1;
        } else {
            --x;
            error += 2 * (y - x) + 1;
        }
    }
}

// A square point `size` pixels across centred on (x, y).
void draw_point(QImage& image, int x, int y, int size, QRgb colour) {
    const int from = -(size / 2);
    for (int dy = from; dy < from + size; ++dy)
        for (int dx = from; dx < from + size; ++dx) set_pixel(image, x + dx, y + dy, colour);
}

}  // namespace

void set_pixel(QImage& image, int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
    reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
}

void draw_line(QImage& image, int x0, int y0, int x1, int y1, QRgb colour) {
    // Coordinates come from truncated doubles and may lie far off the picture; the differences
    // are widened so that they cannot overflow, and only the steps whose major coordinate falls
    // inside the picture are visited (at most its width or height).
    const long long dx = static_cast<long long>(x1) - x0;
    const long long dy = static_cast<long long>(y1) - y0;
    const bool x_major = std::llabs(dx) >= std::llabs(dy);
    const long long steps = x_major ? std::llabs(dx) : std::llabs(dy);
    if (steps == 0) return;
    const long long major0 = x_major ? x0 : y0;
    const long long minor0 = x_major ? y0 : x0;
    const int major_sign = (x_major ? dx : dy) < 0 ? -1 : 1;
    const int minor_sign = (x_major ? dy : dx) < 0 ? -1 : 1;
    const long long major_size = x_major ? image.width() : image.height();
    const long long minor_size = x_major ? image.height() : image.width();

    // Steps t in [first, last) put the major coordinate major0 + sign x t inside the picture.
    long long first = major_sign > 0 ? -major0 : major0 - (major_size - 1);
    long long last = major_sign > 0 ? major_size - major0 : major0 + 1;
    first = std::max(first, 0LL);
    last = std::min(last, steps);
    if (first >= last) return;

    // Minor offset at step t: floor((steps + t x minor2) / major2), the exact offset rounded
    // half away from the start; `num` carries the remainder from step to step.
    const long long major2 = 2 * steps;
    const long long minor2 = 2 * (x_major ? std::llabs(dy) : std::llabs(dx));
    const __int128 start = static_cast<__int128>(steps) + static_cast<__int128>(first) * minor2;
    long long offset = static_cast<long long>(start / major2);
    long long num = static_cast<long long>(start % major2);
    for (long long t = first; t < last; ++t) {
        const long long major = major0 + major_sign * t;
        const long long minor = minor0 + minor_sign * offset;
        if (minor >= 0 && minor < minor_size) {
            const int x = static_cast<int>(x_major ? major : minor);
            const int y = static_cast<int>(x_major ? minor : major);
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
        }
        num += minor2;
        if (num >= major2) {
            num -= major2;
            ++offset;
        }
    }
}

GraphCanvas::GraphCanvas(int width, int height)
    : picture_(width, height, QImage::Format_RGB32), right_(width), bottom_(height) {
    picture_.fill(pen_black);
}

void GraphCanvas::display_init() {
    if (!scroll_image_) scroll_image_ = std::make_unique<std::array<std::uint8_t, scroll_bytes>>();
}

void GraphCanvas::graph_paint(const GraphInput& input, bool erase) {
    if (input.display_mode != painted_mode_) {
        erase = true;
        waterfall_row_ = 0;
        for (auto& points : constellation_history_) points.fill(std::nan(""));
        constellation_rms_ = 0.0;
        painted_mode_ = input.display_mode;
    }
    if (erase) picture_.fill(pen_black);
    const int marker_x = marker_column(input.tuned_freq);
    switch (input.display_mode) {
        case engine::display_scope:
            paint_scope(input);
            break;
        case engine::display_spectrum:
            paint_spectrum(input, marker_x);
            break;
        case engine::display_freqacq:
            paint_freqacq(input, marker_x);
            break;
        case engine::display_constellation:
            paint_constellation(input);
            break;
        case engine::display_phase_error:
            paint_phase_error(input);
            break;
        case engine::display_waterfall:
            paint_waterfall(input, marker_x);
            break;
        case engine::display_scrolling_waterfall:
            paint_scrolling_waterfall(input, marker_x);
            break;
        default:
            break;  // 6, 7, 8 and anything else draw nothing
    }
}

void GraphCanvas::paint_scope(const GraphInput& in) {
    const int mid = bottom_ / 2;
    int x = 0;
    int y = scope_row(mid, in.spectrum_input[0]);
    for (int i = 1; i < 400; ++i) {
        const int yi = scope_row(mid, in.spectrum_input[i]);
        draw_line(picture_, x, y, i, yi, pen_green);
        x = i;
        y = yi;
    }
}

void GraphCanvas::paint_spectrum(const GraphInput& in, int marker_x) {
    const int base = bottom_ - 1;
    int x = 0;
    int y = spectrum_row(base, in.display_spectrum[0]);
    for (int i = 1; i < 400; ++i) {
        const int yi = spectrum_row(base, in.display_spectrum[i]);
        draw_line(picture_, x, y, i, yi, pen_green);
        x = i;
        y = yi;
    }
    draw_line(picture_, marker_x - band_half_width, base, marker_x - band_half_width, 0, pen_blue);
    draw_line(picture_, marker_x + band_half_width, base, marker_x + band_half_width, 0, pen_blue);
    draw_line(picture_, marker_x, base, marker_x, 0, pen_red);
}

void GraphCanvas::paint_freqacq(const GraphInput& in, int marker_x) {
    const int base = bottom_ - 1;
    int x = 99;
    int y = base;
    for (int i = 100; i < 300; ++i) {
        const int yi = spectrum_row(base, in.display_spectrum[i]);
        draw_line(picture_, x, y, i, yi, pen_green);
        x = i;
        y = yi;
    }
    draw_line(picture_, x, y, 300, base, pen_green);
    draw_line(picture_, marker_x, base, marker_x, 0, pen_red);
}

void GraphCanvas::paint_constellation(const GraphInput& in) {
    const int cx = right_ / 2;
    const int cy = bottom_ / 2;
    const int radius = std::min(cx, cy) * 3 / 4;
    draw_line(picture_, 0, cy, right_, cy, axis_grey);
    draw_line(picture_, cx, 0, cx, bottom_, axis_grey);
    draw_circle(picture_, cx, cy, radius, light_grey);

    double sum = 0.0;
    int n = 0;
    for (int k = 0; k < 32; ++k) {
        const double m = in.constellation_re[k] * in.constellation_re[k] +
                         in.constellation_im[k] * in.constellation_im[k];
        if (std::isfinite(m)) {
            sum += m;
            ++n;
        }
    }
    if (n > 0 && sum > 0.0) {
        const double rms = std::sqrt(sum / n);
        constellation_rms_ = constellation_rms_ > 0.0 ? 0.7 * constellation_rms_ + 0.3 * rms : rms;
    }
    ConstellationPoints& now =
        constellation_history_[static_cast<std::size_t>(constellation_next_)];
    for (int k = 0; k < 32; ++k) {
        const std::complex<double> p(in.constellation_re[k], in.constellation_im[k]);
        now[static_cast<std::size_t>(k)] =
            constellation_rms_ > 0.0 ? p / constellation_rms_ : std::complex<double>(0.0, 0.0);
    }
    constellation_next_ = (constellation_next_ + 1) % constellation_ticks;

    // Oldest first and dimmest, so that the newest points lie on top.
    for (int age = constellation_ticks - 1; age >= 0; --age) {
        const int entry =
            (constellation_next_ - 1 - age + 2 * constellation_ticks) % constellation_ticks;
        const int green = 255 - age * (255 - 60) / (constellation_ticks - 1);
        const QRgb colour = qRgb(0, green, 0);
        for (const std::complex<double>& p :
             constellation_history_[static_cast<std::size_t>(entry)]) {
            if (!std::isfinite(p.real()) || !std::isfinite(p.imag())) continue;
            // The imaginary part runs across, the real part downward.
            draw_point(picture_, cx + trunc_int(p.imag() * radius),
                       cy + trunc_int(p.real() * radius), constellation_point, colour);
        }
    }
    const int tx = cx + trunc_int(in.timing_marker);
    draw_line(picture_, tx, 0, tx, 30, pen_red);
}

void GraphCanvas::paint_phase_error(const GraphInput& in) {
    const int mid = bottom_ / 2;
    draw_line(picture_, 0, mid, right_, mid, pen_blue);
    for (int c = 0; c < 15; ++c) {
        const int x = 25 + 25 * c;
        draw_line(picture_, x, mid, x, mid - trunc_int(in.error_bars[c]), pen_green);
    }
}

void GraphCanvas::paint_waterfall(const GraphInput& in, int marker_x) {
    std::array<QRgb, graph_columns> row{};
    for (int i = 0; i < 400; ++i)
        row[static_cast<std::size_t>(i)] =
            to_qrgb(waterfall_colour(in.display_spectrum[i], in.waterfall));
    const int rows = std::clamp(in.waterfall.rows_per_tick, 1, WaterfallScale::most_rows);
    for (int r = 0; r < rows; ++r) {
        for (int i = 0; i < 400; ++i)
            set_pixel(picture_, i, waterfall_row_, row[static_cast<std::size_t>(i)]);
        // Rows run 0, -1, bottom, bottom - 1, ..., 0, -1, bottom: -1 and bottom are off the
        // picture.
        if (waterfall_row_ < 0) {
            waterfall_row_ = bottom_;
        } else {
            waterfall_row_ -= 1;
        }
    }
    draw_line(picture_, 0, waterfall_row_, right_, waterfall_row_, pen_blue);
    draw_line(picture_, marker_x - band_half_width, waterfall_row_, marker_x + band_half_width,
              waterfall_row_, pen_red);
}

void GraphCanvas::paint_scrolling_waterfall(const GraphInput& in, int marker_x) {
    display_init();  // a paint before display_init still has a picture to draw
    std::uint8_t* bytes = scroll_image_->data();
    constexpr int last_row = scroll_bytes - scroll_stride;  // 310800: the top row on screen
    if (scroll_image_mode_ != in.display_mode) {
        std::memset(bytes, 0, scroll_bytes);
        scroll_image_mode_ = in.display_mode;
    }
    const int rows = std::clamp(in.waterfall.rows_per_tick, 1, WaterfallScale::most_rows);
    for (int r = 0; r < rows; ++r) {
        std::memmove(bytes, bytes + scroll_stride, last_row);
        for (int i = 0; i < 400; ++i) {
            const Rgb c = waterfall_colour(in.display_spectrum[i], in.waterfall);
            bytes[last_row + 3 * i] = c.blue;
            bytes[last_row + 3 * i + 1] = c.green;
            bytes[last_row + 3 * i + 2] = c.red;
        }
    }
    // Memory row r (0 = bottom) lands on screen row offset + (height - 1 - r).
    for (int r = 0; r < scroll_height; ++r) {
        const int y = scroll_offset + scroll_height - 1 - r;
        if (y < 0 || y >= picture_.height()) continue;
        const std::uint8_t* src = bytes + r * scroll_stride;
        QRgb* dst = reinterpret_cast<QRgb*>(picture_.scanLine(y));
        const int columns = std::min(scroll_width, picture_.width());
        for (int x = 0; x < columns; ++x) dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
    }
    for (int y = 0; y < 3; ++y) draw_line(picture_, 0, y, right_, y, pen_black);
    for (int y = 1; y < 3; ++y) {
        draw_line(picture_, marker_x - band_half_width, y, marker_x + band_half_width, y, pen_red);
    }
}

}  // namespace tarpo::ui
