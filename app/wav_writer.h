// Writing 16-bit WAV files without ever destroying what stood at the output path. (Reading is
// sound/sound_file.h, shared with the program's voice keyer.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/output_file.h"
#include "app/wavfile.h"
#include "sound/sound_file.h"

namespace tarpo::app {

// Writes mono 16-bit PCM WAV at `rate` Hz through an OutputFile, in pieces. The header's
// sizes are filled in at the end where the output can be rewritten; a pipe or a device gets
// the largest sizes instead, as streams of unknown length do.
class WavWriter {
  public:
    bool open(const std::string& path, int rate, std::string& error);
    bool write(const std::int16_t* samples, std::size_t n, std::string& error);
    bool finish(std::string& error);
    std::uint64_t samples_written() const { return data_bytes_ / 2; }

  private:
    OutputFile out_;
    std::uint64_t data_bytes_ = 0;
};

}  // namespace tarpo::app
