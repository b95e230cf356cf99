#include "ui/radio_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <istream>
#include <sstream>
#include <utility>

#include "engine/settings_files.h"
#include "external/settings_text.h"
#include "ptt/device_class.h"

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

bool parse_baud(const std::string& text, int& out) {
    int value = 0;
    if (!parse_int(text, 0, 4000000, value)) return false;
    const std::vector<int>& speeds = serial_speeds();
    if (value != 0 && std::find(speeds.begin(), speeds.end(), value) == speeds.end()) return false;
    out = value;
    return true;
}

// A value as a note shows it: at most 40 characters, control characters as '?'.
std::string shown(const std::string& text) {
    std::string out = text.substr(0, 40);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return text.size() > 40 ? out + "..." : out;
}

constexpr std::pair<ptt::DialRig, const char*> dial_words[] = {
    {ptt::DialRig::none, "none"}, {ptt::DialRig::cat, "cat"}, {ptt::DialRig::net, "net"}};

const char* dial_rig_word(ptt::DialRig rig) {
    for (const auto& [r, word] : dial_words)
        if (r == rig) return word;
    return "none";
}

bool dial_rig_from_word(const std::string& word, ptt::DialRig& rig) {
    for (const auto& [r, w] : dial_words) {
        if (word == w) {
            rig = r;
            return true;
        }
    }
    return false;
}

// The note for a value that was refused: what it should be, and what is used instead.
std::string refusal(const std::string& key, const std::string& value, const RadioSettings& s) {
    const std::string v = "'" + shown(value) + "'";
    if (key == "method") return "method " + v + " is not known; using " + ptt_kind_word(s.method);
    if (key == "rig_model")
        return "rig model " + v + " is not a Hamlib model number (1..99999); using " +
               std::to_string(s.rig_model);
    if (key == "rig_baud")
        return "baud rate " + v + " is not a serial speed; using " + std::to_string(s.rig_baud) +
               (s.rig_baud == 0 ? " (the model's default)" : "");
    if (key == "net_port")
        return "network port " + v + " is not within 1..65535; using " + std::to_string(s.net_port);
    if (key == "cm108_gpio")
        return "CM108 GPIO " + v + " is not within 1..8; using " + std::to_string(s.cm108_gpio);
    if (key == "dial_rig")
        return "dial_rig " + v + " is not none, cat or net; using " + dial_rig_word(s.dial_rig);
    const std::string& kept = key == "rig_port"   ? s.rig_port
                              : key == "net_host" ? s.net_host
                                                  : s.cm108_device;
    return key + " " + v + " is empty, too long or holds control characters; using '" + kept + "'";
}

constexpr const char* keys[] = {"method",       "rig_model",  "rig_port", "rig_baud", "net_host",
                                "cm108_device", "cm108_gpio", "net_port", "dial_rig"};

bool known_key(const std::string& key) {
    return std::find(std::begin(keys), std::end(keys), key) != std::end(keys);
}

// One "key value" line; the value is the rest of the line after one blank (a path may hold
// blanks), trailing blanks and a carriage return removed.
bool take_pair(const std::string& key, const std::string& value, RadioSettings& s) {
    if (key == "method") return ptt_kind_from_word(value, s.method);
    if (key == "rig_model") return parse_int(value, 1, 99999, s.rig_model);
    if (key == "rig_port") return parse_text(value, s.rig_port);
    if (key == "rig_baud") return parse_baud(value, s.rig_baud);
    if (key == "net_host") return parse_text(value, s.net_host);
    if (key == "net_port") return parse_int(value, 1, 65535, s.net_port);
    if (key == "cm108_device") return parse_text(value, s.cm108_device);
    if (key == "cm108_gpio") return parse_int(value, 1, 8, s.cm108_gpio);
    if (key == "dial_rig") return dial_rig_from_word(value, s.dial_rig);
    return false;
}

// One line of the file: true when a value was taken; otherwise a note, unless the line is
// blank or a comment.
bool take_line(const std::string& line, RadioSettings& s, std::string& note) {
    if (line.empty() || line[0] == '#') return false;
    const std::size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    if (!known_key(key)) {
        note = "'" + shown(line) + "' is not a setting; skipped";
        return false;
    }
    const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (take_pair(key, value, s)) return true;
    note = refusal(key, value, s);
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

int read_radio_settings(std::istream& in, RadioSettings& settings,
                        std::vector<std::string>* notes) {
    int taken = 0;
    std::string line;
    for (int number = 1;; ++number) {
        line.clear();
        bool too_long = false;
        int c;
        while ((c = in.get()) != std::char_traits<char>::eof() && c != '\n') {
            if (line.size() < max_line)
                line.push_back(static_cast<char>(c));
            else
                too_long = true;
        }
        std::string note;
        if (too_long) {
            note = "longer than 1000 characters; skipped";
        } else {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            if (take_line(line, settings, note)) ++taken;
        }
        if (!note.empty() && notes)
            notes->push_back("line " + std::to_string(number) + ": " + note);
        if (c == std::char_traits<char>::eof()) return taken;
    }
}

int load_radio_settings(const std::filesystem::path& file, RadioSettings& settings) {
    const std::optional<std::string> text = load_settings_text(file.c_str());
    if (!text) return 0;
    std::istringstream in(*text);
    std::vector<std::string> notes;
    const int taken = read_radio_settings(in, settings, &notes);
    const std::string name = file.filename().string();
    if (const std::string problem = cm108_device_problem(settings.cm108_device); !problem.empty()) {
        notes.push_back("cm108_device '" + shown(settings.cm108_device) + "' " + problem +
                        "; no CM108 device is opened");
        settings.cm108_device.clear();
    }
    say_settings_notes(name, notes);
    return taken;
}

const std::vector<int>& serial_speeds() {
    static const std::vector<int> speeds{300,   600,   1200,  2400,   4800,   9600,
                                         19200, 38400, 57600, 115200, 230400, 460800};
    return speeds;
}

std::string cm108_device_problem(const std::string& device) {
    if (device.empty()) return {};
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return {};  // not there (yet): opening will say
    if (!S_ISCHR(st.st_mode)) return "is not a character device";
    const std::string kind = ptt::char_device_class(st.st_rdev);
    // No sysfs to ask: the character device is taken as it is.
    if (!kind.empty() && kind != "hidraw") return "is not a hidraw device";
    return {};
}

bool check_rig_model(RadioSettings& settings, const std::vector<int>& models) {
    if (models.empty() ||
        std::find(models.begin(), models.end(), settings.rig_model) != models.end())
        return false;
    settings_note(radio_file_name, "rig model " + std::to_string(settings.rig_model) +
                                       " is not in Hamlib's list; using 1 (the dummy rig)");
    settings.rig_model = 1;
    return true;
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
    line("dial_rig", dial_rig_word(s.dial_rig));
    return out;
}

bool save_radio_settings(const std::filesystem::path& file, const RadioSettings& settings) {
    return engine::write_file_whole(file, format_radio_settings(settings));
}

}  // namespace tarpo::ui
