// sc.txt: any text into the four device numbers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "engine/settings_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    tarpo::engine::SoundChoices choices;
    const int n = tarpo::engine::read_sound_choices(in, choices);
    if (n < 0 || n > 4) std::abort();
    // What the program writes back reads the same.
    std::istringstream again(tarpo::engine::format_sound_choices(choices));
    tarpo::engine::SoundChoices read_back;
    if (tarpo::engine::read_sound_choices(again, read_back) != 4 || !(read_back == choices))
        std::abort();
    return 0;
}
