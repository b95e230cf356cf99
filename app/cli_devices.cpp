// tarpo-cli devices: the sound-device lists as the program numbers them (the numbers that
// sc.txt holds), with each entry's stable name (what sc_names.txt keeps), for the sound system
// in use and then for the other one; and the serial ports behind "Com 1" .. "Com 8".
#include <cstdio>
#include <memory>
#include <string>

#include "app/cli_verbs.h"
#include "ptt/serial_ports.h"
#include "sound/loop_library.h"
#include "sound/sound_choice.h"
#include "sound/sound_interface.h"
#include "sound/sound_portaudio.h"
#include "sound/sound_pulse.h"

namespace tarpo::app {

namespace {

constexpr Synopsis devices_synopses[] = {
    {"", "the sound devices as the program numbers them, and the PTT ports"},
};

void list_entries(const char* system, int count,
                  const char* (sound::SoundInterface::*name)(int) const,
                  const std::string& (sound::SoundInterface::*id)(int) const,
                  const sound::SoundInterface& sound) {
    for (int i = 0; i < count; ++i) {
        const std::string shown = (sound.*name)(i);
        const std::string& stable = (sound.*id)(i);
        if (stable == shown) {
            std::printf("  %d  %s  [%s]\n", i, shown.c_str(), system);
        } else {
            std::printf("  %d  %s  [%s: %s]\n", i, shown.c_str(), system, stable.c_str());
        }
    }
}

// One sound system's lists, numbered as the program numbers them on it.
void list_system(sound::SoundBackend& backend, const char* heading) {
    sound::LoopLibrary loop;
    sound::SoundInterface sound(backend, loop);
    sound.init(48000);
    const char* system = backend.system_name();
    std::printf("\n%s\ninput devices (rx input, voice input):\n", heading);
    list_entries(system, sound.input_count(), &sound::SoundInterface::input_name,
                 &sound::SoundInterface::input_id, sound);
    std::printf("output devices (tx output, voice output):\n");
    list_entries(system, sound.output_count(), &sound::SoundInterface::output_name,
                 &sound::SoundInterface::output_id, sound);
}

}  // namespace

const VerbSpec devices_verb{"devices", devices_synopses, {}};

int cli_devices(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(devices_verb, argc, argv, options)) return *status;
    if (!options.files.empty()) {
        report_problem(devices_verb, "unexpected argument '" + options.files[0] + "'");
        return 2;
    }
    const std::unique_ptr<sound::SoundBackend> used =
        sound::make_sound_backend(sound::sound_system_from_environment());
    const bool on_pulse = std::string(used->system_name()) == "pulse";
    list_system(*used, on_pulse ? "sound system in use: the sound server (pulse)"
                                : "sound system in use: PortAudio (portaudio)");
    if (on_pulse) {
        sound::PortAudioBackend other;
        list_system(other, "with TARPO_SOUND=portaudio: PortAudio (portaudio)");
    } else {
        sound::PulseBackend other;
        if (other.connected()) {
            list_system(other, "with TARPO_SOUND=pulse: the sound server (pulse)");
        } else {
            std::printf("\nno sound server answers (pulse)\n");
        }
    }
    std::printf("PTT ports:\n");
    for (const auto& entry : ptt::com_port_entries())
        std::printf("  %s  %s\n", entry.name.c_str(),
                    entry.device.empty() ? "-" : entry.device.c_str());
    return 0;
}

}  // namespace tarpo::app
