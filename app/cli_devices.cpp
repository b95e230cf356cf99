// tarpo-cli devices: the sound-device lists as the program numbers them (the numbers that
// sc.txt holds), and the serial ports behind "Com 1" .. "Com 8".
#include <cstdio>
#include <cstring>

#include "app/cli_verbs.h"
#include "ptt/serial_ports.h"
#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "sound/sound_portaudio.h"

namespace tarpo::app {

int cli_devices(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: tarpo-cli devices\n");
            return 0;
        }
        std::fprintf(stderr, "tarpo-cli devices: unexpected argument '%s'\n", argv[i]);
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
