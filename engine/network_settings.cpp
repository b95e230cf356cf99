#include "engine/network_settings.h"

#include <charconv>
#include <sstream>

namespace tarpo::engine {

namespace {

bool host_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == ':';
}

std::optional<bool> parse_switch(const std::string& value) {
    if (value == "on") return true;
    if (value == "off") return false;
    return std::nullopt;
}

std::string switch_text(bool on) {
    return on ? "on" : "off";
}

// The rest of the line after the key, blanks at either end removed.
std::string rest_of_line(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(key) + key.size();
    const std::size_t first = line.find_first_not_of(" \t", at);
    if (first == std::string::npos) return {};
    const std::size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last + 1 - first);
}

}  // namespace

std::optional<Endpoint> parse_endpoint(const std::string& text) {
    std::string host, port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) return std::nullopt;  // IPv6 wants brackets
    }
    if (host.empty() || host.size() > 253) return std::nullopt;
    for (const char c : host)
        if (!host_character(c)) return std::nullopt;
    int number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc{} || end != port.data() + port.size() || number < 1 || number > 65535)
        return std::nullopt;
    return Endpoint{host, std::to_string(number)};
}

std::string endpoint_text(const Endpoint& e) {
    return e.host.find(':') != std::string::npos ? "[" + e.host + "]:" + e.port
                                                 : e.host + ":" + e.port;
}

NetworkSettings read_network_settings(const std::string& text, std::vector<std::string>* notes) {
    NetworkSettings s;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto note = [&](const std::string& what) {
        if (notes) notes->push_back("line " + std::to_string(number) + ": " + what);
    };
    auto take_switch = [&](const std::string& key, const std::string& value, bool& to) {
        if (const auto on = parse_switch(value))
            to = *on;
        else
            note(key + " '" + value.substr(0, 20) + "' is neither on nor off; using " +
                 switch_text(to));
    };
    auto take_endpoint = [&](const std::string& key, const std::string& value, Endpoint& to) {
        if (const auto e = parse_endpoint(value))
            to = *e;
        else
            note(key + " '" + value.substr(0, 40) + "' is not HOST:PORT; using " +
                 endpoint_text(to));
    };
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string key, value;
        if (!(words >> key)) continue;
        words >> value;
        if (key == "report") {
            take_switch(key, value, s.report);
        } else if (key == "logger") {
            take_switch(key, value, s.logger);
        } else if (key == "adif") {
            take_switch(key, value, s.adif);
        } else if (key == "report_to") {
            take_endpoint(key, value, s.report_to);
        } else if (key == "logger_to") {
            take_endpoint(key, value, s.logger_to);
        } else if (key == "adif_to") {
            take_endpoint(key, value, s.adif_to);
        } else if (key == "antenna") {
            s.antenna = rest_of_line(line, key).substr(0, 128);
        } else if (key == "dial") {
            std::uint64_t hz = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), hz);
            if (ec == std::errc{} && end == value.data() + value.size() && hz >= 100'000 &&
                hz <= 300'000'000'000ULL)
                s.dial_hz = hz;
            else
                note("dial '" + value.substr(0, 20) + "' is not a frequency in Hz (100000 and up)");
        } else {
            note("unknown setting '" + key.substr(0, 20) + "'");
        }
    }
    return s;
}

std::string format_network_settings(const NetworkSettings& s) {
    std::string text =
        "report " + switch_text(s.report) + "\nreport_to " + endpoint_text(s.report_to) + "\n";
    std::string antenna = s.antenna.substr(0, 128);
    for (char& c : antenna)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    if (antenna.find_first_not_of(' ') != std::string::npos) text += "antenna " + antenna + "\n";
    if (s.dial_hz) text += "dial " + std::to_string(*s.dial_hz) + "\n";
    text += "logger " + switch_text(s.logger) + "\nlogger_to " + endpoint_text(s.logger_to) +
            "\nadif " + switch_text(s.adif) + "\nadif_to " + endpoint_text(s.adif_to) + "\n";
    return text;
}

}  // namespace tarpo::engine
