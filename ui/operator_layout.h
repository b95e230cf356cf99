// The arithmetic of the operator's additions to the window: which Display menu entry shows the
// current view, where the frequency scale's ticks fall, and where each control goes when the
// window is larger than the design's size. Free functions without widgets, for the tests.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "ui/ui_maths.h"

namespace tarpo::ui {

// The menu identifier of the Display entry that selects view `mode` (with the constellation's
// carrier for view 4); 0 when no entry does.
int display_action_id(int mode, int carrier);

// A tick of the frequency scale under the spectrum and waterfall views: every 250 Hz inside
// the graph's 300..2793.75 Hz, labelled every 500 Hz.
struct ScaleTick {
    int column = 0;  // 0..399
    int hz = 0;
    bool labelled = false;
};
std::vector<ScaleTick> frequency_scale();
// Whether view `mode` gets the scale (spectrum and both waterfalls).
bool has_frequency_scale(int mode);

// Where a control whose design rectangle is `r` goes when the window's client area is dx
// pixels wider and dy taller than the design's: the graph grows by both; the controls right
// of the graph follow the right edge; those in the lower part (at or below `lower_y`) follow
// the bottom, the callsign field under the graph grows with it and the buttons beside it move
// right.
PixelRect stretched_rect(const PixelRect& r, const PixelRect& graph, int lower_y, int dx, int dy);

// The operator's own settings, in operator.txt beside the design's files: "window X Y W H"
// (position of the frame, size of the window) and "record 0|1". Unknown or broken lines are
// skipped; a missing file gives the defaults; saving rewrites the file whole.
inline constexpr const char* operator_file_name = "operator.txt";
struct OperatorSettings {
    std::optional<PixelRect> window;
    bool record = false;
};
OperatorSettings load_operator_settings(const std::filesystem::path& path);
bool save_operator_settings(const std::filesystem::path& path, const OperatorSettings& settings);

}  // namespace tarpo::ui
