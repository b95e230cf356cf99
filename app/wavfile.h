// Sound files for the command-line tool and the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sound/sound_file.h"

namespace tarpo::app {

using sound::SoundInfo;

// Reads a whole sound file of any format libsndfile knows ("-" is standard input), keeps the
// first channel and resamples it to `rate` Hz (libsamplerate, best sinc quality) when the file
// has another rate. Samples are in 16-bit units (full scale 32768), as doubles. Returns false
// with a one-line reason in `error` when the file is missing, unreadable, not a sound file,
// empty, or refused by SoundReader (rate, length, samples that are not finite numbers).
bool read_sound(const std::string& path, int rate, std::vector<double>& samples, SoundInfo& info,
                std::string& error);

// Writes mono 16-bit PCM WAV at `rate` Hz through an OutputFile: a failure never leaves a
// partial file behind, and a FIFO or a device at `path` stays what it is.
bool write_wav16(const std::string& path, int rate, const std::vector<std::int16_t>& samples,
                 std::string& error);

}  // namespace tarpo::app
