// The amateur bands by their ADIF names, for the log's BAND field and for telling whether two
// reports of a callsign were on the same band.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarpo::net {

// "20m" for 14 236 000 Hz; "" outside every band.
std::string_view band_of(std::uint64_t frequency_hz);

}  // namespace tarpo::net
