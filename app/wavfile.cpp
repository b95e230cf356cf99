#include "app/wavfile.h"

#include "app/wav_writer.h"

namespace tarpo::app {

bool read_sound(const std::string& path, int rate, std::vector<double>& samples, SoundInfo& info,
                std::string& error) {
    samples.clear();
    sound::SoundReader reader;
    if (!reader.open(path, rate, error)) return false;
    info = reader.info();
    double piece[8192];
    while (true) {
        const long n = reader.read(piece, static_cast<long>(std::size(piece)), error);
        if (n < 0) {
            samples.clear();
            return false;
        }
        if (n == 0) break;
        samples.insert(samples.end(), piece, piece + n);
    }
    if (samples.empty()) {
        error =
            (path == "-" ? std::string("standard input") : path) + ": the file holds no samples";
        return false;
    }
    return true;
}

bool write_wav16(const std::string& path, int rate, const std::vector<std::int16_t>& samples,
                 std::string& error) {
    WavWriter writer;
    return writer.open(path, rate, error) && writer.write(samples.data(), samples.size(), error) &&
           writer.finish(error);
}

}  // namespace tarpo::app
