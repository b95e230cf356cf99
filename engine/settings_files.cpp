#include "engine/settings_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <istream>
#include <sstream>
#include <system_error>

#include "external/settings_text.h"

namespace tarpo::engine {

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
    const std::optional<std::string> text = tarpo::read_settings_text(file.c_str());
    if (!text) return false;
    in.str(*text);
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
    // A FIFO or a device of that name (or a link to one) is the user's, not ours to replace.
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
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

bool read_receiver_choice(const std::string& text, bool& enhanced, std::string& note) {
    std::istringstream in(text);
    std::string word;
    in >> word;
    // "design": the differential receiver's former name, which is also what is written.
    if (word == "enhanced" || word == "differential" || word == "design") {
        enhanced = word == "enhanced";
        return true;
    }
    if (!word.empty() || text.find_first_not_of(" \t\r\n") != std::string::npos)
        note = "'" + word.substr(0, 40) + (word.size() > 40 ? "..." : "") +
               "' is neither enhanced nor differential; using " +
               (enhanced ? "enhanced" : "differential");
    for (char& c : note)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return false;
}

bool load_receiver_choice(const std::filesystem::path& file, bool& enhanced) {
    const std::optional<std::string> text = load_settings_text(file.c_str());
    if (!text) return false;
    std::string note;
    const bool taken = read_receiver_choice(*text, enhanced, note);
    if (!note.empty()) settings_note(file.filename().string(), note);
    return taken;
}

bool save_receiver_choice(const std::filesystem::path& file, bool enhanced) {
    // The differential receiver under its former name, which older builds read too.
    return write_file_whole(file, enhanced ? "enhanced\n" : "design\n");
}

}  // namespace tarpo::engine
