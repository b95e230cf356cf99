// A sound file for the voice keyer: any format libsndfile reads (WAV, FLAC, OGG...), the first
// channel, brought to 48 kHz 16-bit samples. Reads the whole file: user-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarpo::engine {

// False with a one-line reason when the file is missing, not a sound file or empty.
bool read_voice_file(const std::string& path, std::vector<std::int16_t>& samples,
                     std::string& error);

}  // namespace tarpo::engine
