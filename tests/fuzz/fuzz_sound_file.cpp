// The shared sound-file reader (the command-line tool's and the voice keyer's): any bytes as a
// file, or as a pipe delivers them (the kept head a non-seekable source is read through), read
// in pieces at the codec's or the modem's rate. Every sample read must be a finite number of sane
// size: the reader limits samples to 4 times full scale, and the resampler's gain on the worst
// pattern of them stays well below 16.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sound/sound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the output rate and whether the bytes can be sought in; the rest is
    // the file.
    if (size < 1) return 0;
    const int rate = data[0] & 1 ? 48000 : 8000;
    const bool seekable = (data[0] & 2) == 0;
    tarpo::sound::SoundReader reader;
    std::string error;
    if (!reader.open_memory(data + 1, size - 1, rate, error, seekable)) return 0;
    double piece[1920];
    long total = 0;
    while (true) {
        const long n = reader.read(piece, 1920, error);
        if (n < 0 && (error.empty() || error.find('\n') != std::string::npos)) std::abort();
        if (n <= 0) break;
        for (long i = 0; i < n; ++i)
            if (!std::isfinite(piece[i]) || std::abs(piece[i]) > 64 * 32768.0) std::abort();
        total += n;
        // A few seconds are enough to cross every piece boundary; longer inputs only cost time.
        if (total > 10 * rate) break;
    }
    return 0;
}
