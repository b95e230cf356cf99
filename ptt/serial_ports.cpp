#include "ptt/serial_ports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace tarpo::ptt {

namespace fs = std::filesystem;

namespace {

// The n of "ttyS<n>", or -1 for any other name.
long uart_number(const std::string& name) {
    if (name.size() < 5 || name.size() > 12 || name.compare(0, 4, "ttyS") != 0) return -1;
    long n = 0;
    for (std::size_t i = 4; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// The kernel's port type, 0 (unknown) when unreadable.
long uart_type(const fs::path& file) {
    std::ifstream in(file);
    long type = 0;
    if (!(in >> type)) return 0;
    return type;
}

}  // namespace

std::vector<std::string> serial_port_list(const SerialPortDirs& dirs) {
    std::vector<std::string> ports;
    std::error_code ec;

    std::vector<std::string> by_id;
    for (fs::directory_iterator it(fs::path(dirs.dev) / "serial" / "by-id", ec), end;
         !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec)) continue;
        by_id.push_back(it->path().string());
    }
    std::sort(by_id.begin(), by_id.end());
    ports.insert(ports.end(), by_id.begin(), by_id.end());

    ec.clear();
    std::vector<std::pair<long, std::string>> uarts;
    const fs::path tty_class = fs::path(dirs.sys) / "class" / "tty";
    for (fs::directory_iterator it(tty_class, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const long n = uart_number(name);
        if (n < 0) continue;
        std::error_code e;
        if (!fs::exists(it->path() / "device" / "driver", e)) continue;
        if (uart_type(it->path() / "type") == 0) continue;
        uarts.emplace_back(n, (fs::path(dirs.dev) / name).string());
    }
    std::sort(uarts.begin(), uarts.end());
    for (auto& [n, path] : uarts) ports.push_back(std::move(path));
    return ports;
}

std::array<ComPortEntry, com_port_count> com_port_entries(const SerialPortDirs& dirs) {
    const std::vector<std::string> ports = serial_port_list(dirs);
    std::array<ComPortEntry, com_port_count> entries;
    for (int i = 0; i < com_port_count; ++i) {
        entries[i].name = "Com " + std::to_string(i + 1);
        if (static_cast<std::size_t>(i) < ports.size()) entries[i].device = ports[i];
    }
    return entries;
}

std::string com_port_device(char choice, const SerialPortDirs& dirs) {
    if (choice < '1' || choice > '0' + com_port_count) return {};
    const std::vector<std::string> ports = serial_port_list(dirs);
    const auto index = static_cast<std::size_t>(choice - '1');
    return index < ports.size() ? ports[index] : std::string();
}

}  // namespace tarpo::ptt
