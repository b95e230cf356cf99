// network.txt: what the station sends over the network, all off until the operator switches it
// on. Reception reports go to the map's collector; logged contacts go to a logger, as the
// logger messages and/or as a bare ADIF record. The operator's callsign and locator are not
// here: they come from cs.txt and locator.txt, which the rest of the program keeps.
//
//   report on|off              reception reports (off)
//   report_to HOST:PORT        where they go (report.pskreporter.info:4739)
//   antenna TEXT...            the antenna, shown with the reports (the rest of the line)
//   dial HZ                    the dial frequency to use when no rig tells it (none)
//   logger on|off              the logger messages for each contact, with heartbeats (off)
//   logger_to HOST:PORT        where they go (127.0.0.1:2237; a multicast address works too)
//   adif on|off                each contact as one bare ADIF record (off)
//   adif_to HOST:PORT          where it goes (127.0.0.1:2333)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarpo::engine {

inline constexpr const char* network_file_name = "network.txt";

struct Endpoint {
    std::string host;
    std::string port;
    bool operator==(const Endpoint&) const = default;
};

struct NetworkSettings {
    bool report = false;
    Endpoint report_to{"report.pskreporter.info", "4739"};
    std::string antenna;
    std::optional<std::uint64_t> dial_hz;  // entered by the operator; a rig's dial comes first
    bool logger = false;
    Endpoint logger_to{"127.0.0.1", "2237"};
    bool adif = false;
    Endpoint adif_to{"127.0.0.1", "2333"};
    bool operator==(const NetworkSettings&) const = default;
};

// "HOST:PORT" (a bracketed IPv6 host: "[::1]:4739"), port 1..65535, host of letters, digits,
// '.', '-', ':' (IPv6) and '_', at most 253 characters. Nothing otherwise.
std::optional<Endpoint> parse_endpoint(const std::string& text);
std::string endpoint_text(const Endpoint& e);

// The lines above; an unknown key or a value that cannot be taken is skipped with one note
// ("line 3: report_to 'x' is not HOST:PORT; using report.pskreporter.info:4739").
NetworkSettings read_network_settings(const std::string& text, std::vector<std::string>* notes);
std::string format_network_settings(const NetworkSettings& s);

}  // namespace tarpo::engine
