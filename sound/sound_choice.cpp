#include "sound/sound_choice.h"

#include <cstdio>
#include <cstdlib>

#include "sound/sound_portaudio.h"
#include "sound/sound_pulse.h"

namespace tarpo::sound {

std::optional<SoundSystem> parse_sound_system(std::string_view text) {
    if (text == "auto") return SoundSystem::automatic;
    if (text == "pulse") return SoundSystem::pulse;
    if (text == "portaudio") return SoundSystem::portaudio;
    return std::nullopt;
}

SoundSystem sound_system_from_environment() {
    const char* text = std::getenv(sound_system_variable);
    if (!text || !*text) return SoundSystem::automatic;
    if (const auto system = parse_sound_system(text)) return *system;
    std::fprintf(stderr, "%s=%s is not understood (auto, pulse, portaudio); using auto\n",
                 sound_system_variable, text);
    return SoundSystem::automatic;
}

std::unique_ptr<SoundBackend> make_sound_backend(SoundSystem wanted) {
    if (wanted == SoundSystem::portaudio) return std::make_unique<PortAudioBackend>();
    auto pulse = std::make_unique<PulseBackend>();
    if (wanted == SoundSystem::pulse || pulse->connected()) return pulse;
    pulse.reset();
    return std::make_unique<PortAudioBackend>();
}

}  // namespace tarpo::sound
