#include "net/callsign_check.h"

namespace tarpo::net {

namespace {

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Shown in a message: printable ASCII kept, anything else as '?', at most 40 characters.
std::string shown(std::string_view value) {
    std::string out;
    for (const char c : value.substr(0, 40)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return value.size() > 40 ? out + "..." : out;
}

}  // namespace

std::optional<std::string> plausible_callsign(std::string_view text) {
    if (text.size() < 3 || text.size() > 15) return std::nullopt;
    if (text.front() == '/' || text.back() == '/' || text.find("//") != std::string_view::npos)
        return std::nullopt;
    bool letter = false;
    bool digit = false;
    std::string call;
    for (const char c : text) {
        if (!is_letter(c) && !is_digit(c) && c != '/') return std::nullopt;
        letter = letter || is_letter(c);
        digit = digit || is_digit(c);
        call += upper(c);
    }
    if (!letter || !digit) return std::nullopt;
    return call;
}

bool valid_locator(std::string_view text) {
    if (text.size() != 4 && text.size() != 6) return false;
    const auto field = [](char c) { return upper(c) >= 'A' && upper(c) <= 'R'; };
    const auto subsquare = [](char c) { return lower(c) >= 'a' && lower(c) <= 'x'; };
    if (!field(text[0]) || !field(text[1]) || !is_digit(text[2]) || !is_digit(text[3]))
        return false;
    return text.size() == 4 || (subsquare(text[4]) && subsquare(text[5]));
}

std::string normal_locator(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = i < 2 ? upper(out[i]) : lower(out[i]);
    return out;
}

std::string callsign_problem(std::string_view setting, std::string_view value) {
    if (plausible_callsign(value)) return {};
    return std::string(setting) + ": \"" + shown(value) +
           "\" is not a callsign (3 to 15 letters, digits and '/', with a letter and a digit)";
}

std::string locator_problem(std::string_view setting, std::string_view value, bool optional) {
    if (valid_locator(value) || (optional && value.empty())) return {};
    return std::string(setting) + ": \"" + shown(value) +
           "\" is not a locator (4 or 6 characters such as FN42 or FN42hn" +
           (optional ? ", or empty)" : ")");
}

}  // namespace tarpo::net
