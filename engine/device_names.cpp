#include "engine/device_names.h"

#include <istream>
#include <sstream>

#include "engine/settings_files.h"
#include "external/settings_text.h"

namespace tarpo::engine {

namespace {

constexpr std::size_t max_line = 1000;

bool clean(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

// The entries' stable names (ids) or the names the lists show.
std::vector<std::string> list_names(engine::EngineApi& engine, bool output, bool ids = true) {
    const int count = output ? engine.sound_output_count() : engine.sound_input_count();
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        if (ids) {
            names.push_back(output ? engine.sound_output_id(i) : engine.sound_input_id(i));
        } else {
            names.push_back(output ? engine.sound_output_name(i) : engine.sound_input_name(i));
        }
    }
    return names;
}

std::string name_at(const std::vector<std::string>& names, int index) {
    return index >= 0 && index < static_cast<int>(names.size()) ? names[index] : std::string();
}

// One line into `names`; a note when it was not used (a blank line passes silently).
std::string take_name_line(const std::string& line, DeviceNames& names) {
    if (line.empty()) return {};
    if (line.size() > max_line) return "longer than 1000 characters; skipped";
    const std::size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    std::string* const target = key == "tx_output"      ? &names.tx_output
                                : key == "voice_input"  ? &names.voice_input
                                : key == "voice_output" ? &names.voice_output
                                : key == "rx_input"     ? &names.rx_input
                                                        : nullptr;
    if (target == nullptr || blank == std::string::npos) {
        std::string shown = line.substr(0, 40);
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
        return "'" + shown + (line.size() > 40 ? "..." : "") + "' is not understood; skipped";
    }
    const std::string name = line.substr(blank + 1);
    if (!clean(name)) return key + ": a name with control characters; skipped";
    *target = name;
    return {};
}

}  // namespace

bool read_device_names(std::istream& in, DeviceNames& names, std::vector<std::string>* notes) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string note = take_name_line(line, names);
        if (!note.empty() && notes)
            notes->push_back("line " + std::to_string(number) + ": " + note);
    }
    return true;
}

bool load_device_names(const std::filesystem::path& file, DeviceNames& names) {
    const std::optional<std::string> text = load_settings_text(file.c_str());
    if (!text) return false;
    std::istringstream in(*text);
    std::vector<std::string> notes;
    read_device_names(in, names, &notes);
    say_settings_notes(file.filename().string(), notes);
    return true;
}

bool save_device_names(const std::filesystem::path& file, const DeviceNames& n) {
    std::string text;
    auto line = [&text](const char* key, const std::string& name) {
        if (!name.empty() && clean(name)) text += std::string(key) + " " + name + "\n";
    };
    line("tx_output", n.tx_output);
    line("voice_input", n.voice_input);
    line("voice_output", n.voice_output);
    line("rx_input", n.rx_input);
    return write_file_whole(file, text);
}

FollowedDevice follow_device(int index, const std::string& name,
                             const std::vector<std::string>& names) {
    if (name.empty() || name_at(names, index) == name) return {index, false};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return {static_cast<int>(i), false};
    return {index, true};
}

DeviceNames selected_device_names(engine::EngineApi& engine) {
    const engine::Controls& s = engine.controls();
    const std::vector<std::string> inputs = list_names(engine, false);
    const std::vector<std::string> outputs = list_names(engine, true);
    return {name_at(outputs, s.tx_output_device), name_at(inputs, s.voice_input_device),
            name_at(outputs, s.voice_output_device), name_at(inputs, s.rx_input_device)};
}

void follow_device_names(engine::EngineApi& engine, const DeviceNames& names, bool& choice_needed) {
    engine::Controls& s = engine.controls();
    const std::vector<std::string> inputs = list_names(engine, false);
    const std::vector<std::string> outputs = list_names(engine, true);
    // A file kept under another sound system may hold the names the lists show instead.
    const std::vector<std::string> shown_inputs = list_names(engine, false, false);
    const std::vector<std::string> shown_outputs = list_names(engine, true, false);
    auto follow = [&choice_needed](std::atomic<int>& index, const std::string& name,
                                   const std::vector<std::string>& ids,
                                   const std::vector<std::string>& shown) {
        FollowedDevice found = follow_device(index, name, ids);
        if (found.gone) found = follow_device(index, name, shown);
        index = found.gone ? 0 : found.index;
        if (found.gone) choice_needed = true;
    };
    follow(s.tx_output_device, names.tx_output, outputs, shown_outputs);
    follow(s.voice_input_device, names.voice_input, inputs, shown_inputs);
    follow(s.voice_output_device, names.voice_output, outputs, shown_outputs);
    follow(s.rx_input_device, names.rx_input, inputs, shown_inputs);
}

bool tx_output_is_loop(engine::EngineApi& engine) {
    return engine.sound_loop_present() &&
           engine.controls().tx_output_device == engine.sound_output_count() - 1;
}

}  // namespace tarpo::engine
