// How the transmitter is keyed and which rig the program talks to, kept in radio.txt beside
// the other settings files: one "key value" pair a line, for example
//
//   method hamlib_net
//   net_host localhost
//   net_port 4532
//
// Unknown keys, lines without a value and values out of range are skipped, so that a damaged
// or hand-edited file never stops the program: what could not be read keeps its default.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

namespace tarpo::audio {

inline constexpr const char* radio_file_name = "radio.txt";

enum class PttKind {
    vox,             // no keying: the rig's VOX, or by hand
    serial_rts_dtr,  // RTS and DTR of the ComPort port (the default)
    serial_rts,      // RTS only
    serial_dtr,      // DTR only
    hamlib_cat,      // CAT through Hamlib: model, port, baud rate
    hamlib_net,      // Hamlib's network rig: a rigctld on host:port
    cm108,           // GPIO of a CM108 USB sound interface, through its hidraw device
};

struct RadioSettings {
    PttKind method = PttKind::serial_rts_dtr;
    int rig_model = 1;     // Hamlib's model number, for hamlib_cat
    std::string rig_port;  // the rig's serial device, for hamlib_cat
    int rig_baud = 0;      // bit/s; 0: the model's default
    std::string net_host = "localhost";
    int net_port = 4532;
    std::string cm108_device = "/dev/hidraw0";
    int cm108_gpio = 3;  // 1..8
    bool operator==(const RadioSettings&) const = default;
};

// The word radio.txt uses for a method, and back (false for an unknown word).
const char* ptt_kind_word(PttKind kind);
bool ptt_kind_from_word(const std::string& word, PttKind& kind);
// Whether the method talks to a rig through Hamlib (and so has a frequency readout).
bool uses_hamlib(PttKind kind);

// Reads pairs until the end; lines longer than 1000 characters, text values with control
// characters and numbers out of range are skipped. Returns how many values were taken.
int read_radio_settings(std::istream& in, RadioSettings& settings);
int load_radio_settings(const std::filesystem::path& file, RadioSettings& settings);
std::string format_radio_settings(const RadioSettings& settings);
// Replaces the file whole (a temporary file renamed over it); false when it cannot.
bool save_radio_settings(const std::filesystem::path& file, const RadioSettings& settings);

}  // namespace tarpo::audio
