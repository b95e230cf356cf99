#include "loop/loop_config.h"

#include <arpa/inet.h>

#include <cstdio>
#include <string>

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

}  // namespace

std::optional<LoopConfig> loop_config_parse(std::string_view text) {
    LoopConfig config;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);

        const std::string_view key = next_word(line);
        if (key.empty()) continue;
        const std::string_view value = next_word(line);
        if (value.empty() || !next_word(line).empty()) return std::nullopt;

        if (key == "rx_port") {
            const auto port = parse_port(value, 65535);
            if (!port) return std::nullopt;
            config.rx_port = *port;
        } else if (key == "tx_port") {
            const auto port = parse_port(value, 65534);
            if (!port) return std::nullopt;
            config.tx_port = *port;
        } else if (key == "tx_host") {
            const auto host = parse_host(value);
            if (!host) return std::nullopt;
            config.tx_address = *host;
        } else {
            return std::nullopt;
        }
    }
    return config;
}

LoopConfig loop_config_load(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return {};
    char buffer[max_file_bytes + 1];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    if (n > max_file_bytes) return {};
    // A NUL byte marks a binary file, not a text one.
    const std::string_view text(buffer, n);
    if (text.find('\0') != std::string_view::npos) return {};
    return loop_config_parse(text).value_or(LoopConfig{});
}

}  // namespace tarpo::loop
