#include "ui/radio_settings.h"

#include <array>
#include <charconv>
#include <fstream>
#include <istream>
#include <utility>

#include "ui/settings_files.h"

namespace tarpo::ui {

using ptt::PttKind;
using ptt::RadioSettings;

namespace {

constexpr std::size_t max_line = 1000;
constexpr std::size_t max_text = 255;

constexpr std::array<std::pair<PttKind, const char*>, 7> kind_words{{
    {PttKind::vox, "vox"},
    {PttKind::serial_rts_dtr, "serial_rts_dtr"},
    {PttKind::serial_rts, "serial_rts"},
    {PttKind::serial_dtr, "serial_dtr"},
    {PttKind::hamlib_cat, "hamlib_cat"},
    {PttKind::hamlib_net, "hamlib_net"},
    {PttKind::cm108, "cm108"},
}};

bool parse_int(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    if (value < low || value > high) return false;
    out = value;
    return true;
}

bool parse_text(const std::string& text, std::string& out) {
    if (text.empty() || text.size() > max_text) return false;
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    out = text;
    return true;
}

// One "key value" line; the value is the rest of the line after one blank (a path may hold
// blanks), trailing blanks and a carriage return removed.
bool take_pair(const std::string& key, const std::string& value, RadioSettings& s) {
    if (key == "method") return ptt_kind_from_word(value, s.method);
    if (key == "rig_model") return parse_int(value, 1, 999999, s.rig_model);
    if (key == "rig_port") return parse_text(value, s.rig_port);
    if (key == "rig_baud") return parse_int(value, 0, 4000000, s.rig_baud);
    if (key == "net_host") return parse_text(value, s.net_host);
    if (key == "net_port") return parse_int(value, 1, 65535, s.net_port);
    if (key == "cm108_device") return parse_text(value, s.cm108_device);
    if (key == "cm108_gpio") return parse_int(value, 1, 8, s.cm108_gpio);
    return false;
}

}  // namespace

const char* ptt_kind_word(PttKind kind) {
    for (const auto& [k, word] : kind_words)
        if (k == kind) return word;
    return "serial_rts_dtr";
}

bool ptt_kind_from_word(const std::string& word, PttKind& kind) {
    for (const auto& [k, w] : kind_words) {
        if (word == w) {
            kind = k;
            return true;
        }
    }
    return false;
}

int read_radio_settings(std::istream& in, RadioSettings& settings) {
    int taken = 0;
    std::string line;
    while (true) {
        line.clear();
        bool too_long = false;
        int c;
        while ((c = in.get()) != std::char_traits<char>::eof() && c != '\n') {
            if (line.size() < max_line)
                line.push_back(static_cast<char>(c));
            else
                too_long = true;
        }
        if (!too_long) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            const std::size_t blank = line.find(' ');
            if (blank != std::string::npos && line[0] != '#' &&
                take_pair(line.substr(0, blank), line.substr(blank + 1), settings))
                ++taken;
        }
        if (c == std::char_traits<char>::eof()) return taken;
    }
}

int load_radio_settings(const std::filesystem::path& file, RadioSettings& settings) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return 0;
    return read_radio_settings(in, settings);
}

std::string format_radio_settings(const RadioSettings& s) {
    std::string out;
    auto line = [&out](const char* key, const std::string& value) {
        if (!value.empty()) out += std::string(key) + " " + value + "\n";
    };
    line("method", ptt_kind_word(s.method));
    line("rig_model", std::to_string(s.rig_model));
    line("rig_port", s.rig_port);
    line("rig_baud", std::to_string(s.rig_baud));
    line("net_host", s.net_host);
    line("net_port", std::to_string(s.net_port));
    line("cm108_device", s.cm108_device);
    line("cm108_gpio", std::to_string(s.cm108_gpio));
    return out;
}

bool save_radio_settings(const std::filesystem::path& file, const RadioSettings& settings) {
    return write_file_whole(file, format_radio_settings(settings));
}

}  // namespace tarpo::ui
