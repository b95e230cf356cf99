// The arithmetic of the operator's additions to the window: which Display menu entry shows the
// current view, where the frequency scale's ticks fall, and where each control goes when the
// window is larger than its laid-out size. Free functions without widgets, for the tests.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/ui_maths.h"

namespace tarpo::ui {

// The menu identifier of the Display entry that selects view `mode` (with the constellation's
// carrier for view 4), from display_views (ui/control_ids.h); 0 when no entry does.
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

// Where a control whose laid-out rectangle is `r` goes when the window's client area is dx
// pixels wider and dy taller than laid out: the graph grows by both; the controls right
// of the graph follow the right edge; those in the lower part (at or below `lower_y`) follow
// the bottom, the callsign field under the graph grows with it and the buttons beside it move
// right.
PixelRect stretched_rect(const PixelRect& r, const PixelRect& graph, int lower_y, int dx, int dy);

// The operator's own settings, in operator.txt beside sc.txt and cs.txt: "window X Y W H"
// (position of the frame, size of the window), "record 0|1", and the station's state as the
// operator left it: "view MODE CARRIER" (a view the Display menu offers), "split", "alc",
// "txid", "rxid" (0|1 each), "squelch 0..100" (the slider's position) and "tuned HZ" (the
// receiver's frequency, 925..2175). Unknown or broken lines are skipped, each with a note
// ("line 2: ..."), as are a place beyond +-1000000 pixels and a size outside 1..1000000 (what
// fits the screens is decided when the window is placed, fit_window); what a file lacks (an
// older one) keeps its default; a missing file gives the defaults; saving rewrites the file
// whole.
inline constexpr const char* operator_file_name = "operator.txt";
inline constexpr double lowest_tuning_hz = 925.0;
inline constexpr double highest_tuning_hz = 2175.0;
struct StationState {
    std::optional<std::pair<int, int>> view;  // display mode and constellation carrier
    std::optional<bool> split, alc, txid, rxid;
    std::optional<int> squelch;      // slider position, 0 at the top .. 100
    std::optional<double> tuned_hz;  // Hz
    bool operator==(const StationState&) const = default;
};
struct OperatorSettings {
    std::optional<PixelRect> window;
    bool record = false;
    StationState station;
};
OperatorSettings read_operator_settings(std::string_view text, std::vector<std::string>* notes);
// From the file (its first 64 KiB, only a regular file), the notes said on standard error.
OperatorSettings load_operator_settings(const std::filesystem::path& path);
bool save_operator_settings(const std::filesystem::path& path, const OperatorSettings& settings);

// What tells this instance apart in the main window's title ("TARPO   V1.3 - DL1AB  [name]"):
// the last part of the settings directory's path when it is not `usual` (the desktop
// directory), "" when it is or when the directory cannot be resolved.
std::string instance_name(const std::filesystem::path& directory,
                          const std::filesystem::path& usual);

// Where a window saved as `wanted` goes on screens whose available areas are `screens` (the
// first the primary one): on the screen that holds its centre, or else the one it overlaps
// most, or else the primary one; no larger than that screen's area but at least `least`
// (width, height), and moved so that it lies on the screen as far as its size allows.
// Without screens, the size alone is bounded (by `least` and 4096 x 4096).
PixelRect fit_window(const PixelRect& wanted, const std::vector<PixelRect>& screens,
                     const PixelRect& least);

}  // namespace tarpo::ui
