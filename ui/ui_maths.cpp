#include "ui/ui_maths.h"

#include <algorithm>
#include <cmath>

namespace tarpo::ui {

namespace {

constexpr double coordinate_limit = 1e9;

int trunc_int(double v) {
    return trunc_coordinate(v);
}

}  // namespace

int trunc_coordinate(double v) {
    if (!(v == v)) return 0;  // NaN
    if (v >= coordinate_limit) return static_cast<int>(coordinate_limit);
    if (v <= -coordinate_limit) return -static_cast<int>(coordinate_limit);
    return static_cast<int>(v);
}

int marker_column(double tuned_freq) {
    return trunc_int(tuned_freq * 0.16) - 48;
}

int scope_row(int mid, double sample) {
    return mid + trunc_int(sample * 0.004);
}

int spectrum_row(int base, double value) {
    return base - trunc_int(value * 0.3);
}

Rgb intensity_colour(double v) {
    int n = trunc_int(2.0 * v);
    if (n < 0) n = 0;
    int blue = n;
    int green = 0;
    int red = 0;
    if (blue >= 255) {
        green = blue - 255;
        blue = 255;
    }
    if (green >= 255) {
        red = green - 255;
        green = 255;
    }
    if (red >= 255) red = 255;
    return {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
            static_cast<std::uint8_t>(blue)};
}

double spectrum_dbfs(double magnitude) {
    if (!(magnitude > 0.0)) return -300.0;
    return std::max(-300.0, 20.0 * std::log10(4.0 * magnitude / 32767.0));
}

Rgb waterfall_colour(double magnitude, const WaterfallScale& scale) {
    const double range = std::max(scale.range_db, WaterfallScale::least_range);
    const double fraction = (spectrum_dbfs(magnitude) - (scale.top_dbfs - range)) / range;
    // intensity_colour is white from 382.5 (765 steps of half a unit): a hair over it.
    return intensity_colour(std::clamp(fraction, 0.0, 1.0) * 383.0);
}

int click_column(int x) {
    return static_cast<int>(static_cast<std::uint16_t>(x));
}

int squelch_level(int slider_position) {
    return trunc_int(slider_position * 0.15);
}

int snr_db(double phase_error) {
    if (!(phase_error >= 0.01)) return 0;
    // The floor keeps 4 x snr (the bar) in range for an absurd or infinite phase_error; real
    // values stay above -5 dB.
    return std::max(trunc_int(10.0 * std::log10(15.0 / phase_error)), -1000);
}

int level_bar_value(int peak_level) {
    return peak_level / 320;
}

int progress_shown(int value) {
    return std::clamp(value, 0, 100);
}

}  // namespace tarpo::ui
