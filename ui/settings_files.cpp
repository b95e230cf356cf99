#include "ui/settings_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <istream>
#include <sstream>
#include <system_error>

#include "external/settings_file.h"

namespace tarpo::ui {

namespace {

// The white space of formatted input: blank, tab, line feed, vertical tab, form feed, return.
bool is_space(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void skip_space(std::istream& in) {
    while (is_space(in.peek())) in.get();
}

// One decimal integer with an optional sign, after white space. False when no digit follows
// (nothing is stored then); the characters looked at are consumed either way, which does not
// matter because reading stops at the first failure.
bool read_integer(std::istream& in, int& value) {
    skip_space(in);
    bool negative = false;
    int c = in.peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        in.get();
        c = in.peek();
    }
    if (c < '0' || c > '9') return false;
    long long magnitude = 0;
    constexpr long long limit = static_cast<long long>(INT_MAX) + 1;
    while (c >= '0' && c <= '9') {
        in.get();
        if (magnitude < limit) magnitude = magnitude * 10 + (c - '0');
        c = in.peek();
    }
    if (magnitude > limit) magnitude = limit;
    const long long v = negative ? -magnitude : magnitude;
    value = static_cast<int>(v > INT_MAX ? INT_MAX : v);
    return true;
}

// The label after the integer: white space, then one word, which is discarded.
void skip_word(std::istream& in) {
    skip_space(in);
    while (true) {
        const int c = in.peek();
        if (c == std::char_traits<char>::eof() || is_space(c)) return;
        in.get();
    }
}

// The first 64 KiB of a settings file, only when it is a regular file (a FIFO would block).
bool read_settings_text(const std::filesystem::path& file, std::istringstream& in) {
    const int fd = open_settings_file(file.c_str());
    if (fd < 0) return false;
    std::string text(65536, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t n = ::read(fd, text.data() + length, text.size() - length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        length += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(length);
    in.str(text);
    return true;
}

}  // namespace

int read_sound_choices(std::istream& in, SoundChoices& choices) {
    int* const targets[4] = {&choices.tx_output_device, &choices.voice_input_device,
                             &choices.voice_output_device, &choices.rx_input_device};
    int count = 0;
    for (int* target : targets) {
        if (!read_integer(in, *target)) break;
        ++count;
        skip_word(in);
    }
    return count;
}

int load_sound_choices(const std::filesystem::path& file, SoundChoices& choices) {
    std::istringstream in;
    if (!read_settings_text(file, in)) return 0;
    return read_sound_choices(in, choices);
}

std::string format_sound_choices(const SoundChoices& c) {
    return std::to_string(c.tx_output_device) + " SCouttx\n" +
           std::to_string(c.voice_input_device) + " SCintx\n" +
           std::to_string(c.voice_output_device) + " SCoutrx\n" +
           std::to_string(c.rx_input_device) + " SCintx\n";
}

bool save_sound_choices(const std::filesystem::path& file, const SoundChoices& choices) {
    return write_file_whole(file, format_sound_choices(choices));
}

CallsignText make_callsign_text(const std::string& text) {
    CallsignText out{};
    const std::size_t n = std::min<std::size_t>(text.size(), callsign_max_chars);
    std::memcpy(out.data(), text.data(), n);
    return out;
}

std::string callsign_string(const CallsignText& text) {
    return std::string(text.data(), strnlen(text.data(), text.size()));
}

bool read_callsign(std::istream& in, CallsignText& text) {
    CallsignText line{};
    int n = 0;
    while (n < callsign_max_chars) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) break;
        line[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    if (n == 0) return false;
    text = line;
    return true;
}

bool load_callsign(const std::filesystem::path& file, CallsignText& text) {
    std::istringstream in;
    if (!read_settings_text(file, in)) return false;
    return read_callsign(in, text);
}

bool save_callsign(const std::filesystem::path& file, const CallsignText& text) {
    return write_file_whole(file, callsign_string(text));
}

bool write_file_whole(const std::filesystem::path& file, const std::string& content) {
    // The temporary carries the process number: two instances saving in one working directory
    // never write into each other's temporary.
    std::filesystem::path temporary = file;
    temporary += ".new-" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

bool load_receiver_choice(const std::filesystem::path& file, bool& enhanced) {
    std::ifstream in(file);
    std::string word;
    if (!(in >> word) || (word != "enhanced" && word != "design")) return false;
    enhanced = word == "enhanced";
    return true;
}

bool save_receiver_choice(const std::filesystem::path& file, bool enhanced) {
    return write_file_whole(file, enhanced ? "enhanced\n" : "design\n");
}

}  // namespace tarpo::ui
