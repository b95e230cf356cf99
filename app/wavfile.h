// Sound files for the command-line tool and the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarpo::app {

// What a file held before conversion, for messages.
struct SoundInfo {
    int rate = 0;  // Hz
    int channels = 0;
    std::string format;  // e.g. "WAV 16-bit PCM"
    std::int64_t frames = 0;
};

// Reads a sound file of any format libsndfile knows, keeps the first channel and resamples it
// to `rate` Hz (libsamplerate, best sinc quality) when the file has another rate. Samples are
// in 16-bit units (full scale 32768), as doubles. Returns false with a one-line reason in
// `error` when the file is missing, unreadable, not a sound file or empty.
bool read_sound(const std::string& path, int rate, std::vector<double>& samples, SoundInfo& info,
                std::string& error);

// Writes mono 16-bit PCM WAV at `rate` Hz. The file is written under a temporary name beside
// `path` and renamed at the end, so a failure never leaves a partial file behind.
bool write_wav16(const std::string& path, int rate, const std::vector<std::int16_t>& samples,
                 std::string& error);

}  // namespace tarpo::app
