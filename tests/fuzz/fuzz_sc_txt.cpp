// sc.txt: any text into the four device numbers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "ui/settings_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    tarpo::ui::SoundChoices choices;
    const int n = tarpo::ui::read_sound_choices(in, choices);
    if (n < 0 || n > 4) std::abort();
    // What the program writes back reads the same.
    std::istringstream again(tarpo::ui::format_sound_choices(choices));
    tarpo::ui::SoundChoices read_back;
    if (tarpo::ui::read_sound_choices(again, read_back) != 4 || !(read_back == choices))
        std::abort();
    return 0;
}
