#include "ui/operator_layout.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

#include "engine/settings_files.h"
#include "external/settings_text.h"
#include "ui/control_ids.h"

namespace tarpo::ui {

int display_action_id(int mode, int carrier) {
    for (const DisplayView& v : display_views)
        if (v.mode == mode && (v.carrier == any_carrier || v.carrier == carrier)) return v.id;
    return 0;
}

std::vector<ScaleTick> frequency_scale() {
    std::vector<ScaleTick> ticks;
    for (int hz = 250; column_frequency(graph_columns - 1) >= hz; hz += 250) {
        if (hz < column_frequency(0)) continue;
        // Column x shows (x + 48) x 6.25 Hz; 250 Hz steps fall on whole columns.
        ticks.push_back({hz * 4 / 25 - 48, hz, hz % 500 == 0});
    }
    return ticks;
}

bool has_frequency_scale(int mode) {
    return mode == 2 || mode == 9 || mode == 10;
}

PixelRect stretched_rect(const PixelRect& r, const PixelRect& graph, int lower_y, int dx, int dy) {
    PixelRect s = r;
    const int graph_right = graph.x + graph.width;
    const int graph_bottom = graph.y + graph.height;
    if (r.x == graph.x && r.y == graph.y && r.width == graph.width && r.height == graph.height) {
        s.width += dx;
        s.height += dy;
        return s;
    }
    if (r.x >= graph_right) s.x += dx;
    if (r.y >= lower_y) s.y += dy;
    if (r.y >= graph_bottom && r.x < graph_right) {
        if (r.x == graph.x)
            s.width += dx;  // the callsign field under the graph
        else
            s.x += dx;
    }
    return s;
}

namespace {

constexpr long long place_limit = 1000000;  // pixels

// The blank-separated words of a line.
std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

bool whole_number(std::string_view word, long long low, long long high, int& out) {
    long long value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) return false;
    if (value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

std::string shown(std::string_view line) {
    std::string out(line.substr(0, 40));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return "'" + out + (line.size() > 40 ? "...'" : "'");
}

bool decimal(std::string_view word, double low, double high, double& out) {
    double value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) return false;
    if (!(value >= low && value <= high)) return false;
    out = value;
    return true;
}

// A line of the station's state into `s`: "" when taken, a note's end when refused, nothing
// when it is none of the station's keys.
std::optional<std::string> take_station_line(const std::vector<std::string_view>& words,
                                             StationState& s) {
    const std::string_view key = words[0];
    const std::pair<std::string_view, std::optional<bool>*> flags[] = {
        {"split", &s.split}, {"alc", &s.alc}, {"txid", &s.txid}, {"rxid", &s.rxid}};
    for (const auto& [name, flag] : flags) {
        if (key != name) continue;
        int on = 0;
        if (words.size() != 2 || !whole_number(words[1], 0, 1, on))
            return " is not 0 or 1; skipped";
        *flag = on != 0;
        return std::string();
    }
    if (key == "view") {
        int mode = 0;
        int carrier = 0;
        if (words.size() == 3 && whole_number(words[1], 0, 99, mode) &&
            whole_number(words[2], 0, 14, carrier) && display_action_id(mode, carrier) != 0) {
            s.view = std::pair{mode, carrier};
            return std::string();
        }
        return " is not a view of the Display menu; skipped";
    }
    if (key == "squelch") {
        int position = 0;
        if (words.size() != 2 || !whole_number(words[1], 0, 100, position))
            return " is not a squelch position 0..100; skipped";
        s.squelch = position;
        return std::string();
    }
    if (key == "tuned") {
        double hz = 0;
        if (words.size() != 2 || !decimal(words[1], lowest_tuning_hz, highest_tuning_hz, hz))
            return " is not a frequency of 925 to 2175 Hz; skipped";
        s.tuned_hz = hz;
        return std::string();
    }
    return std::nullopt;
}

std::string format_station(const StationState& s) {
    std::string text;
    if (s.view)
        text +=
            "view " + std::to_string(s.view->first) + ' ' + std::to_string(s.view->second) + '\n';
    const std::pair<const char*, const std::optional<bool>*> flags[] = {
        {"split", &s.split}, {"alc", &s.alc}, {"txid", &s.txid}, {"rxid", &s.rxid}};
    for (const auto& [name, flag] : flags)
        if (*flag) text += std::string(name) + (**flag ? " 1\n" : " 0\n");
    if (s.squelch) text += "squelch " + std::to_string(*s.squelch) + '\n';
    if (s.tuned_hz) {
        char hz[32];
        std::snprintf(hz, sizeof hz, "%.1f", *s.tuned_hz);
        text += std::string("tuned ") + hz + '\n';
    }
    return text;
}

// One line into `s`; a note when it could not be used.
std::string take_operator_line(std::string_view line, OperatorSettings& s) {
    const std::vector<std::string_view> words = words_of(line);
    if (words.empty()) return {};
    if (words[0] == "window") {
        PixelRect r;
        if (words.size() == 5 && whole_number(words[1], -place_limit, place_limit, r.x) &&
            whole_number(words[2], -place_limit, place_limit, r.y) &&
            whole_number(words[3], 1, place_limit, r.width) &&
            whole_number(words[4], 1, place_limit, r.height)) {
            s.window = r;
            return {};
        }
        return shown(line) + " is not a window place and size; using the default window";
    }
    if (words[0] == "record") {
        int on = 0;
        if (words.size() == 2 && whole_number(words[1], 0, 1, on)) {
            s.record = on != 0;
            return {};
        }
        return shown(line) + " is not record 0 or 1; using record " + (s.record ? "1" : "0");
    }
    if (std::optional<std::string> note = take_station_line(words, s.station))
        return note->empty() ? std::string() : shown(line) + *note;
    return shown(line) + " is not understood; skipped";
}

}  // namespace

OperatorSettings read_operator_settings(std::string_view text, std::vector<std::string>* notes) {
    OperatorSettings settings;
    int number = 1;
    for (std::size_t at = 0; at < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string note = take_operator_line(text.substr(at, end - at), settings);
        if (!note.empty() && notes)
            notes->push_back("line " + std::to_string(number) + ": " + note);
        at = end + 1;
    }
    return settings;
}

OperatorSettings load_operator_settings(const std::filesystem::path& path) {
    const std::optional<std::string> text = load_settings_text(path.c_str());
    if (!text) return {};
    std::vector<std::string> notes;
    const OperatorSettings settings = read_operator_settings(*text, &notes);
    say_settings_notes(path.filename().string(), notes);
    return settings;
}

bool save_operator_settings(const std::filesystem::path& path, const OperatorSettings& settings) {
    std::string text;
    if (settings.window) {
        const PixelRect& r = *settings.window;
        text += "window " + std::to_string(r.x) + ' ' + std::to_string(r.y) + ' ' +
                std::to_string(r.width) + ' ' + std::to_string(r.height) + '\n';
    }
    text += std::string("record ") + (settings.record ? "1" : "0") + '\n';
    text += format_station(settings.station);
    return engine::write_file_whole(path, text);
}

std::string instance_name(const std::filesystem::path& directory,
                          const std::filesystem::path& usual) {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::weakly_canonical(directory, error);
    if (error || here.empty()) return {};
    if (!usual.empty()) {
        const std::filesystem::path home = std::filesystem::weakly_canonical(usual, error);
        if (!error && home == here) return {};
    }
    const std::string name = here.filename().string();
    return name.empty() ? here.string() : name;  // the root has no last part
}

namespace {

// Pixels that a and b share, in 64 bits (saved places may be far off).
std::int64_t overlap(const PixelRect& a, const PixelRect& b) {
    const std::int64_t w =
        std::min<std::int64_t>(std::int64_t{a.x} + a.width, std::int64_t{b.x} + b.width) -
        std::max(a.x, b.x);
    const std::int64_t h =
        std::min<std::int64_t>(std::int64_t{a.y} + a.height, std::int64_t{b.y} + b.height) -
        std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

bool holds(const PixelRect& screen, std::int64_t x, std::int64_t y) {
    return x >= screen.x && x < std::int64_t{screen.x} + screen.width && y >= screen.y &&
           y < std::int64_t{screen.y} + screen.height;
}

// [low, low + room - size] or low when the size does not leave room.
int place_within(int at, int size, int low, int room) {
    return std::max(low, std::min<int>(at, low + std::max(0, room - size)));
}

}  // namespace

PixelRect fit_window(const PixelRect& wanted, const std::vector<PixelRect>& screens,
                     const PixelRect& least) {
    PixelRect r = wanted;
    if (screens.empty()) {
        r.width = std::clamp(r.width, least.width, std::max(least.width, 4096));
        r.height = std::clamp(r.height, least.height, std::max(least.height, 4096));
        return r;
    }
    const std::int64_t cx = std::int64_t{wanted.x} + wanted.width / 2;
    const std::int64_t cy = std::int64_t{wanted.y} + wanted.height / 2;
    const PixelRect* screen = &screens.front();
    std::int64_t best = 0;
    for (const PixelRect& s : screens) {
        if (holds(s, cx, cy)) {
            screen = &s;
            break;
        }
        if (const std::int64_t o = overlap(wanted, s); o > best) {
            best = o;
            screen = &s;
        }
    }
    r.width = std::max(least.width, std::min(wanted.width, screen->width));
    r.height = std::max(least.height, std::min(wanted.height, screen->height));
    r.x = place_within(wanted.x, r.width, screen->x, screen->width);
    r.y = place_within(wanted.y, r.height, screen->y, screen->height);
    return r;
}

}  // namespace tarpo::ui
