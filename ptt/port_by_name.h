// The PTT port kept by its stable path as well as by its "Com n" number: txport.bin keeps the
// number as it always has, and a file of its own beside it (txport.path) the device path that
// number stood for when it was chosen (/dev/serial/by-id/usb-...). At start the path decides:
// plugging in another USB serial adapter renumbers the list, but PTT stays on the adapter that
// was chosen, and never moves to another one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "ptt/serial_ports.h"

namespace tarpo::ptt {

// txport.bin -> txport.path, in the same directory.
std::filesystem::path port_path_file(const std::filesystem::path& txport_file);

// The first line of the text (at most 4096 characters, no control characters), "" when it is
// empty or damaged (with a note saying so).
std::string read_port_path(std::string_view text, std::string* note = nullptr);
// The same from the file (its first 64 KiB, only when it is a regular file), a note said on
// standard error; "" when the file is missing.
std::string load_port_path(const std::filesystem::path& file);
// Writes the path and a line end; an empty path writes an empty file. Something other than a
// regular file of that name is left alone (false).
bool save_port_path(const std::filesystem::path& file, const std::string& device);

struct PortChoice {
    char choice = '\0';
    bool missing = false;  // the saved device is not connected: no port
};

// The choice to open, from the choice saved in txport.bin and the saved path: without a path
// the saved choice stands (files from before paths were kept); with one, the "Com n" where
// that device is listed now, or '0' (none) and `missing` when it is not there.
PortChoice resolve_port_choice(char saved, const std::string& path, const SerialPortDirs& dirs);

}  // namespace tarpo::ptt
