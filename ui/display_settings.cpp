#include "ui/display_settings.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include "engine/settings_files.h"
#include "external/settings_text.h"

namespace tarpo::ui {

namespace {

// A number of the whole word within [low, high].
bool number_in(const std::string& word, double low, double high, double& out) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value))
        return false;
    if (value < low || value > high) return false;
    out = value;
    return true;
}

std::string shown(const std::string& word) {
    std::string out = word.substr(0, 20);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
    return out;
}

}  // namespace

WaterfallScale read_display_settings(const std::string& text, std::vector<std::string>& notes) {
    WaterfallScale scale;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        if (!(words >> key)) continue;
        words >> value;
        double v = 0.0;
        if (key == "top_dbfs") {
            if (number_in(value, WaterfallScale::least_top, WaterfallScale::most_top, v))
                scale.top_dbfs = v;
            else
                notes.push_back("top_dbfs \"" + shown(value) + "\" is not -80 .. 0; using -10");
        } else if (key == "range_db") {
            if (number_in(value, WaterfallScale::least_range, WaterfallScale::most_range, v))
                scale.range_db = v;
            else
                notes.push_back("range_db \"" + shown(value) + "\" is not 10 .. 120; using 60");
        } else if (key == "rows_per_tick") {
            if (number_in(value, 1, WaterfallScale::most_rows, v) && v == std::floor(v))
                scale.rows_per_tick = static_cast<int>(v);
            else
                notes.push_back("rows_per_tick \"" + shown(value) + "\" is not 1 .. 4; using 1");
        } else {
            notes.push_back("unknown setting \"" + shown(key) + "\" left out");
        }
    }
    return scale;
}

std::string display_settings_text(const WaterfallScale& scale) {
    std::ostringstream out;
    out << "top_dbfs " << scale.top_dbfs << "\nrange_db " << scale.range_db << "\nrows_per_tick "
        << scale.rows_per_tick << '\n';
    return out.str();
}

WaterfallScale load_display_settings(const std::filesystem::path& file) {
    const std::optional<std::string> text = load_settings_text(file.c_str());
    if (!text) return {};
    std::vector<std::string> notes;
    const WaterfallScale scale = read_display_settings(*text, notes);
    for (const std::string& note : notes) settings_note(file.filename().string(), note);
    return scale;
}

bool save_display_settings(const std::filesystem::path& file, const WaterfallScale& scale) {
    return engine::write_file_whole(file, display_settings_text(scale));
}

}  // namespace tarpo::ui
