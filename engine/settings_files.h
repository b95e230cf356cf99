// The two settings files of the working directory: sc.txt (the four sound devices) and cs.txt
// (the operator's callsign). Both are read once at start and rewritten whole when a dialog is
// confirmed with OK; a file that cannot be read leaves the values in memory, one that cannot be
// written leaves the old file, and neither is reported.
#pragma once

#include <array>
#include <filesystem>
#include <iosfwd>
#include <string>

namespace tarpo::engine {

inline constexpr const char* sound_file_name = "sc.txt";
inline constexpr const char* callsign_file_name = "cs.txt";
inline constexpr const char* receiver_file_name = "receiver.txt";

// Device list indices, -1 for "no entry selected" (the system default device).
struct SoundChoices {
    int tx_output_device = 0;
    int voice_input_device = 0;
    int voice_output_device = 0;
    int rx_input_device = 0;
    bool operator==(const SoundChoices&) const = default;
};

// sc.txt is read as four reads of "a decimal integer, then one word", in the order
// tx_output_device, voice_input_device, voice_output_device, rx_input_device. Line ends are
// white space like any other, so the reads follow the sequence of words, not the lines: a file
// of bare numbers pairs each number with the next one as its label. The first integer that
// cannot be parsed stops the reading, leaving that variable and the later ones unchanged. The
// label word is skipped whatever its length (it is never looked at); an integer beyond the
// range of int saturates. Returns how many variables were set (0..4).
int read_sound_choices(std::istream& in, SoundChoices& choices);
// As above from a file; a missing or unreadable file changes nothing and returns 0.
int load_sound_choices(const std::filesystem::path& file, SoundChoices& choices);
// The file's four lines: "%d SCouttx", "%d SCintx", "%d SCoutrx", "%d SCintx", each with "\n".
std::string format_sound_choices(const SoundChoices& choices);
bool save_sound_choices(const std::filesystem::path& file, const SoundChoices& choices);

// The callsign as the program keeps it: at most 79 characters and a terminating zero.
using CallsignText = std::array<char, 80>;
inline constexpr int callsign_max_chars = 79;
CallsignText make_callsign_text(const std::string& text);  // cut at 79 characters
std::string callsign_string(const CallsignText& text);     // up to the terminating zero

// cs.txt is read as one line of at most 79 characters, its line end included when the line
// ends within them. An empty file (no character at all) leaves `text` unchanged. Returns whether
// `text` was replaced.
bool read_callsign(std::istream& in, CallsignText& text);
bool load_callsign(const std::filesystem::path& file, CallsignText& text);
// Writes the text alone, without a line end.
bool save_callsign(const std::filesystem::path& file, const CallsignText& text);

// receiver.txt holds one word, "enhanced" or "design" (the differential receiver, under the
// name every build reads; "differential" is read too): which receiver puts the frames
// together (the enhanced one when there is no file). A missing file or another word leaves
// `enhanced` unchanged; returns whether it was set. Another word gives a note ("'x' is
// neither enhanced nor differential; using enhanced"), which loading says on standard error.
bool read_receiver_choice(const std::string& text, bool& enhanced, std::string& note);
bool load_receiver_choice(const std::filesystem::path& file, bool& enhanced);
bool save_receiver_choice(const std::filesystem::path& file, bool enhanced);

// Replaces `file` whole: the content goes to a temporary file beside it, which is then renamed
// over it, so that a reader never sees half a file and a failed write leaves the old one. A
// `file` that is not a regular file (a FIFO, a device, a link to one) is left alone: false.
bool write_file_whole(const std::filesystem::path& file, const std::string& content);

}  // namespace tarpo::engine
