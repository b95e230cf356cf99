// The arithmetic behind the window: dialog units to pixels, the graph's columns, rows and
// colours, and the meters' figures. Free functions, so that tests reach them without widgets.
#pragma once

#include <cstdint>

namespace tarpo::ui {

// Truncation toward zero for pixel coordinates and meter figures, saturating at +-1e9 (NaN
// gives 0): a wild array entry then only lands far off the control, and coordinates can still
// be added and subtracted without overflow.
int trunc_coordinate(double v);

// A rectangle in pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Dialog units of the 8-point dialog font: 1.5 px across and 1.625 px down per unit, truncated,
// so that the graph's 267 x 160 units are exactly 400 x 260 px.
constexpr int dialog_x(int units) {
    return units * 3 / 2;
}
constexpr int dialog_y(int units) {
    return units * 13 / 8;
}
constexpr PixelRect dialog_rect(int x, int y, int width, int height) {
    return {dialog_x(x), dialog_y(y), dialog_x(width), dialog_y(height)};
}

// Graph geometry: column x (0..399) is spectrum bin x, (x + 48) x 6.25 Hz.
inline constexpr int graph_columns = 400;
inline constexpr int graph_rows = 260;
// Half the signal's width in columns: 86 x 6.25 = 537.5 Hz, just outside the outer carriers.
inline constexpr int band_half_width = 86;

constexpr double column_frequency(int column) {
    return (column + 48) * 6.25;
}
// Column of the tuned centre frequency (Hz): trunc(f x 0.16) - 48.
int marker_column(double tuned_freq);

// Screen row of a scope sample (16-bit units) about the centre row `mid`; positive samples
// lie below the centre: mid + trunc(sample x 0.004).
int scope_row(int mid, double sample);
// Row of a spectrum value above the base line: base - trunc(value x 0.3).
int spectrum_row(int base, double value);

// Waterfall colour of value v: trunc(2v) climbs through blue (0..254), adds green (255..509),
// then red (510..764); 765 and above is white, negative values are black.
struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};
Rgb intensity_colour(double v);

// The waterfall's colours follow the level in dB relative to full scale: a sine of full
// amplitude (32767) centred on a bin reads 0 dBFS (the spectrum gives a quarter of a sine's
// amplitude), whatever the signal's own peak. Black at top - range and below, then through
// blue, green and red to white at top and above.
struct WaterfallScale {
    static constexpr double least_top = -80.0;
    static constexpr double most_top = 0.0;
    static constexpr double least_range = 10.0;
    static constexpr double most_range = 120.0;
    static constexpr int most_rows = 4;

    double top_dbfs = -10.0;
    double range_db = 60.0;
    int rows_per_tick = 1;  // the waterfall's speed: rows drawn per display tick, 1..4
    bool operator==(const WaterfallScale&) const = default;
};
// Level of a spectrum magnitude (16-bit units): 20 log10(4 m / 32767); -300 for nothing
// (zero, negative, NaN).
double spectrum_dbfs(double magnitude);
Rgb waterfall_colour(double magnitude, const WaterfallScale& scale);

// Column a right click reports: the low 16 bits of the cursor position, unsigned, so that a
// position left of the control becomes a large column (which the tuning clamps to 300).
int click_column(int x);

// Squelch threshold 0..15 from the slider position 0..100: trunc(position x 0.15).
int squelch_level(int slider_position);

// SNR in dB shown by the meters: trunc(10 log10(15 / phase_error)) for phase_error >= 0.01,
// else 0. At most 31; negative above phase_error 15; never below -1000.
int snr_db(double phase_error);

// Level bar value from the largest sample (16-bit units): peak / 320, so full scale is 102.
int level_bar_value(int peak_level);

// What a progress bar with range 0..100 shows for a value: values outside the range show an
// empty or a full bar.
int progress_shown(int value);

}  // namespace tarpo::ui
