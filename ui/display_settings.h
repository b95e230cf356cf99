// display.txt: how the waterfall shows the spectrum, one setting a line:
//   top_dbfs -10        white from this level up (dBFS, -80 .. 0)
//   range_db 60         black this far below the top and further (dB, 10 .. 120)
//   rows_per_tick 1     the waterfall's speed (1 .. 4)
// A missing file or line keeps the default; a value out of range or not a number keeps the
// default with a note on standard error.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ui/ui_maths.h"

namespace tarpo::ui {

inline constexpr const char* display_file_name = "display.txt";

// The settings of a file's text; what could not be taken is said in `notes`, one line each.
WaterfallScale read_display_settings(const std::string& text, std::vector<std::string>& notes);
std::string display_settings_text(const WaterfallScale& scale);

// The file itself (notes on standard error), and saving it whole.
WaterfallScale load_display_settings(const std::filesystem::path& file);
bool save_display_settings(const std::filesystem::path& file, const WaterfallScale& scale);

}  // namespace tarpo::ui
