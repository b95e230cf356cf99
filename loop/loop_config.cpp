#include "loop/loop_config.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "external/settings_file.h"

namespace tarpo::loop {

namespace {

constexpr std::size_t max_file_bytes = 4096;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Splits off the next run of non-blank characters.
std::string_view next_word(std::string_view& line) {
    std::size_t start = 0;
    while (start < line.size() && is_space(line[start])) ++start;
    std::size_t end = start;
    while (end < line.size() && !is_space(line[end])) ++end;
    const std::string_view word = line.substr(start, end - start);
    line.remove_prefix(end);
    return word;
}

// Decimal digits only, no sign, at most five of them.
std::optional<int> parse_port(std::string_view word, int highest) {
    if (word.empty() || word.size() > 5) return std::nullopt;
    int value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > highest) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> parse_host(std::string_view word) {
    if (word == "localhost") return loopback_address;
    if (word.size() > 15) return std::nullopt;  // "255.255.255.255"
    const std::string text(word);
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
    return ntohl(address.s_addr);
}

// One line's key and the rest after it; false when the line is not understood.
bool apply_line(std::string_view key, std::string_view rest, LoopConfig& config) {
    const std::string_view value = next_word(rest);
    if (value.empty() || !next_word(rest).empty()) return false;
    if (key == "rx_port") {
        const auto port = parse_port(value, 65535);
        if (port) config.rx_port = *port;
        return port.has_value();
    }
    if (key == "tx_port") {
        const auto port = parse_port(value, 65534);
        if (port) config.tx_port = *port;
        return port.has_value();
    }
    if (key == "tx_host") {
        const auto host = parse_host(value);
        if (host) config.tx_address = *host;
        return host.has_value();
    }
    return false;
}

// "line 3 ('tx_prot 7356')", the text cut short and anything unprintable shown as '?'.
std::string describe_line(int number, std::string_view line) {
    std::string shown;
    for (const char c : line.substr(0, 60)) shown += (c >= ' ' && c <= '~') ? c : '?';
    if (line.size() > 60) shown += "...";
    return "line " + std::to_string(number) + " ('" + shown + "')";
}

// Says on standard error why the file was not used, once for each different reason.
void report(const char* path, const std::string& problem) {
    static std::mutex mutex;
    static std::string last;
    const std::lock_guard lock(mutex);
    if (problem == last) return;
    last = problem;
    std::fprintf(stderr, "%s: %s is not understood; using %s instead\n", path, problem.c_str(),
                 loop_config_text(LoopConfig{}).c_str());
}

}  // namespace

std::optional<LoopConfig> loop_config_parse(std::string_view text, std::string* problem) {
    LoopConfig config;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view whole = text.substr(0, end);
        std::string_view line = whole;
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        const std::string_view key = next_word(line);
        if (key.empty()) continue;
        if (!apply_line(key, line, config)) {
            if (problem) *problem = describe_line(number, whole);
            return std::nullopt;
        }
    }
    return config;
}

std::optional<LoopConfig> loop_config_parse(std::string_view text) {
    return loop_config_parse(text, nullptr);
}

std::string loop_config_text(const LoopConfig& config) {
    char text[96];
    std::snprintf(text, sizeof text, "rx_port %d, tx_host %u.%u.%u.%u, tx_port %d", config.rx_port,
                  config.tx_address >> 24, (config.tx_address >> 16) & 255,
                  (config.tx_address >> 8) & 255, config.tx_address & 255, config.tx_port);
    return text;
}

LoopConfig loop_config_load(const char* path) {
    const int fd = open_settings_file(path);
    if (fd < 0) return {};
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return {};
    }
    char buffer[max_file_bytes + 1];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    std::string problem;
    if (n > max_file_bytes) {
        problem = "a file longer than 4096 bytes";
    } else if (std::string_view(buffer, n).find('\0') != std::string_view::npos) {
        problem = "a file that is not text";  // a NUL byte marks a binary file
    } else if (const auto config = loop_config_parse(std::string_view(buffer, n), &problem)) {
        return *config;
    }
    report(path, problem);
    return {};
}

}  // namespace tarpo::loop
