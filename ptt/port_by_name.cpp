#include "ptt/port_by_name.h"

#include <fstream>
#include <vector>

namespace tarpo::ptt {

std::filesystem::path port_path_file(const std::filesystem::path& txport_file) {
    std::filesystem::path file = txport_file;
    return file.replace_extension(".path");
}

std::string load_port_path(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::string line;
    int c;
    while ((c = in.get()) != std::char_traits<char>::eof() && c != '\n') {
        if (line.size() >= 4096 || c < 0x20 || c == 0x7f) return {};
        line.push_back(static_cast<char>(c));
    }
    return line;
}

bool save_port_path(const std::filesystem::path& file, const std::string& device) {
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
