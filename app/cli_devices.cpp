// tarpo-cli devices: the sound-device lists as the program numbers them (the numbers that
// sc.txt holds), and the serial ports behind "Com 1" .. "Com 8".
#include <cstdio>

#include "app/cli_verbs.h"
#include "ptt/serial_ports.h"
#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "sound/sound_portaudio.h"

namespace tarpo::app {

namespace {

constexpr Synopsis devices_synopses[] = {
    {"", "the sound devices as the program numbers them, and the PTT ports"},
};

}  // namespace

const VerbSpec devices_verb{"devices", devices_synopses, {}};

int cli_devices(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(devices_verb, argc, argv, options)) return *status;
    if (!options.files.empty()) {
        report_problem(devices_verb, "unexpected argument '" + options.files[0] + "'");
        return 2;
    }
    sound::PortAudioBackend backend;
    sound::LoopLibrary loop;
    sound::SoundInterface sound(backend, loop);
    sound.init(48000);
    std::printf("\ninput devices (rx input, voice input):\n");
    for (int i = 0; i < sound.input_count(); ++i) std::printf("  %d  %s\n", i, sound.input_name(i));
    std::printf("output devices (tx output, voice output):\n");
    for (int i = 0; i < sound.output_count(); ++i)
        std::printf("  %d  %s\n", i, sound.output_name(i));
    std::printf("PTT ports:\n");
    for (const auto& entry : ptt::com_port_entries())
        std::printf("  %s  %s\n", entry.name.c_str(),
                    entry.device.empty() ? "-" : entry.device.c_str());
    return 0;
}

}  // namespace tarpo::app
