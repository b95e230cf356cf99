// cs.txt: any bytes into the callsign text, which must stay a terminated string of at most
// 79 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "engine/settings_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    auto text = tarpo::engine::make_callsign_text("NOCALL");
    const bool replaced = tarpo::engine::read_callsign(in, text);
    if (replaced != (size > 0)) std::abort();
    if (text.back() != '\0' || tarpo::engine::callsign_string(text).size() > 79) std::abort();
    return 0;
}
