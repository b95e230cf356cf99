// Which sound system the program runs on. A sound server that answers (PulseAudio, or PipeWire
// through pipewire-pulse) is used natively; PortAudio stays for ALSA and JACK. TARPO_SOUND
// forces one: "pulse" or "portaudio" ("auto" or unset: whichever answers).
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "sound/sound_backend.h"

namespace tarpo::sound {

enum class SoundSystem { automatic, pulse, portaudio };

inline constexpr const char* sound_system_variable = "TARPO_SOUND";

// "auto", "pulse", "portaudio"; nothing for any other text.
std::optional<SoundSystem> parse_sound_system(std::string_view text);
// TARPO_SOUND's choice; automatic when it is unset, empty or not understood (then with a
// note on standard error).
SoundSystem sound_system_from_environment();
// The backend for `wanted`; automatic probes the sound server briefly (no server is started).
std::unique_ptr<SoundBackend> make_sound_backend(SoundSystem wanted);

}  // namespace tarpo::sound
