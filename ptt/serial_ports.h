// The serial ports behind "Com 1" .. "Com 8": a stable list of the ports this machine has,
// USB adapters by their stable names first (so that "Com 1" stays the same adapter whatever
// order the kernel numbered them in at boot), then the built-in UARTs.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace tarpo::ptt {

inline constexpr int com_port_count = 8;

// Where the list is looked for; tests point these at a temporary tree.
struct SerialPortDirs {
    std::string dev = "/dev";
    std::string sys = "/sys";
};

// Every port, in "Com" order: the entries of <dev>/serial/by-id/ sorted by name, then
// <dev>/ttyS<n> in the order of n for each UART the kernel reports as present: its
// <sys>/class/tty/ttyS<n>/device/driver exists and <sys>/class/tty/ttyS<n>/type is not 0
// (PORT_UNKNOWN: the kernel keeps a ttyS node for every possible legacy port, present or
// not). Nothing is opened: opening a port raises its lines.
std::vector<std::string> serial_port_list(const SerialPortDirs& dirs = {});

struct ComPortEntry {
    std::string name;    // "Com 1" .. "Com 8"
    std::string device;  // the device path, empty when the machine has fewer ports
};

// The port dialog's list: "Com n" with the device beside it.
std::array<ComPortEntry, com_port_count> com_port_entries(const SerialPortDirs& dirs = {});

// The device of a port choice '1' .. '8'; empty for any other character or a missing port.
std::string com_port_device(char choice, const SerialPortDirs& dirs = {});

}  // namespace tarpo::ptt
