// Where the SDR loop device sends and listens, and the optional file `loop.txt` in the working
// directory that overrides it.
//
// loop.txt holds up to three lines of a key and a value, in any order; '#' starts a comment
// that runs to the line end, blank lines are allowed, a key left out keeps its default:
//
//     # TARPO's SDR loop device
//     rx_port 7355        receive audio arrives here (UDP on 127.0.0.1)
//     tx_host 127.0.0.1   transmit audio goes to this IPv4 host ("localhost" is 127.0.0.1)
//     tx_port 7356        ...on this port; "PTT 1" / "PTT 0" go to tx_port + 1
//
// A file with any line that does not parse (unknown key, value missing or extra, port outside
// 1..65535, tx_port 65535 which leaves no port for the PTT, a host that is not a dotted IPv4
// address) is ignored whole: a half-read file would send audio where nobody expects it. The
// first such line, and the values used instead, are said on standard error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarpo::loop {

inline constexpr int default_rx_port = 7355;
inline constexpr int default_tx_port = 7356;
inline constexpr std::uint32_t loopback_address = 0x7f000001;  // 127.0.0.1, host order

struct LoopConfig {
    int rx_port = default_rx_port;                // 1..65535, bound on 127.0.0.1 only
    std::uint32_t tx_address = loopback_address;  // IPv4, host byte order
    int tx_port = default_tx_port;                // 1..65534; PTT datagrams go to tx_port + 1
    int ptt_port() const { return tx_port + 1; }
    bool operator==(const LoopConfig&) const = default;
};

// The text of a loop.txt; nullopt when the text is not a valid file. `problem`, when given,
// then names the first line not understood: "line 3 ('tx_prot 7356')".
std::optional<LoopConfig> loop_config_parse(std::string_view text);
std::optional<LoopConfig> loop_config_parse(std::string_view text, std::string* problem);
// "rx_port 7355, tx_host 127.0.0.1, tx_port 7356"
std::string loop_config_text(const LoopConfig& config);

// Reads the file at `path`; the defaults when it is missing, not a regular file, unreadable,
// longer than 4 KiB or does not parse. A file that is there but not used is reported on
// standard error, once for each different reason:
//     loop.txt: line 2 ('tx_prot 7356') is not understood; using rx_port 7355, ... instead
LoopConfig loop_config_load(const char* path);

}  // namespace tarpo::loop
