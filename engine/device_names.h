// The four chosen sound devices kept by name as well as by number: sc.txt keeps the numbers as
// it always has, and sc_names.txt the stable names (the sound system's own device names, e.g.
// "alsa_output.usb-...analog-stereo" on a sound server) those numbers stood for when they
// were chosen. At
// start a number that now points at another device (a USB codec plugged in elsewhere, a device
// added before it) follows its name to where that device is listed now. Only when the name is
// gone does the old rule apply: the entry is replaced and the Sound Card Selection dialog opens.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "engine/engine_api.h"

namespace tarpo::engine {

inline constexpr const char* device_names_file_name = "sc_names.txt";

// Empty: no name kept (a list without a selection, or a file from before names were kept).
struct DeviceNames {
    std::string tx_output;
    std::string voice_input;
    std::string voice_output;
    std::string rx_input;
    bool operator==(const DeviceNames&) const = default;
};

// The file: "tx_output NAME", "voice_input NAME", "voice_output NAME", "rx_input NAME", one a
// line; the name is the rest of the line. Unknown keys, names with control characters and
// lines beyond 1000 characters are skipped, each with a note in `notes` ("line 2: ..."), which
// loading says on standard error. False when the file cannot be read (missing, or not a
// regular file: only the first 64 KiB of a regular file are read).
bool read_device_names(std::istream& in, DeviceNames& names,
                       std::vector<std::string>* notes = nullptr);
bool load_device_names(const std::filesystem::path& file, DeviceNames& names);
bool save_device_names(const std::filesystem::path& file, const DeviceNames& names);

struct FollowedDevice {
    int index = 0;
    bool gone = false;  // the name is in no entry of the list now
};
// Where a device saved as `index` with `name` is now, in a list of `names`: the index stands
// when the name is empty or the entry still carries it; otherwise the first entry of that
// name, or `gone`.
FollowedDevice follow_device(int index, const std::string& name,
                             const std::vector<std::string>& names);

// Whether the chosen tx output is the SDR loop device (the last output entry when present).
bool tx_output_is_loop(engine::EngineApi& engine);

// The names of the four devices selected in the engine's shared state now.
DeviceNames selected_device_names(engine::EngineApi& engine);
// Moves each of the engine's four device numbers to where its saved name is listed now (as a
// stable name, else as a shown name); a device whose name is gone becomes entry 0 and sets
// `choice_needed`.
void follow_device_names(engine::EngineApi& engine, const DeviceNames& names, bool& choice_needed);

}  // namespace tarpo::engine
