#include "ptt/port_by_name.h"

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "external/settings_text.h"

namespace tarpo::ptt {

std::filesystem::path port_path_file(const std::filesystem::path& txport_file) {
    std::filesystem::path file = txport_file;
    return file.replace_extension(".path");
}

std::string read_port_path(std::string_view text, std::string* note) {
    const std::string_view line = text.substr(0, text.find('\n'));
    std::string path;
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (path.size() >= 4096 || u < 0x20 || u == 0x7f) {
            if (note)
                *note =
                    "line 1 is longer than 4096 characters or holds control characters; "
                    "no saved PTT port path";
            return {};
        }
        path.push_back(c);
    }
    return path;
}

std::string load_port_path(const std::filesystem::path& file) {
    const std::optional<std::string> text = load_settings_text(file.c_str());
    if (!text) return {};
    std::string note;
    const std::string path = read_port_path(*text, &note);
    if (!note.empty()) settings_note(file.filename().string(), note);
    return path;
}

bool save_port_path(const std::filesystem::path& file, const std::string& device) {
    // A FIFO or a device of that name is not ours to write into (the open could wait forever).
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    if (!device.empty()) out << device << '\n';
    out.close();
    return static_cast<bool>(out);
}

PortChoice resolve_port_choice(char saved, const std::string& path, const SerialPortDirs& dirs) {
    if (path.empty()) return {saved, false};
    const std::vector<std::string> ports = serial_port_list(dirs);
    for (int i = 0; i < com_port_count && i < static_cast<int>(ports.size()); ++i) {
        if (ports[i] == path) return {static_cast<char>('1' + i), false};
    }
    return {'0', true};
}

}  // namespace tarpo::ptt
