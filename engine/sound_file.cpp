#include "engine/sound_file.h"

#include <sndfile.h>

#include <cmath>
#include <exception>

#include "dsp/numeric.h"
#include "sim/channel.h"

namespace tarpo::engine {

bool read_voice_file(const std::string& path, std::vector<std::int16_t>& samples,
                     std::string& error) {
    samples.clear();
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    std::vector<double> frames;
    if (info.frames > 0 && info.channels > 0 && info.samplerate > 0)
        frames.resize(static_cast<std::size_t>(info.frames) *
                      static_cast<std::size_t>(info.channels));
    const sf_count_t got = frames.empty() ? 0 : sf_readf_double(file, frames.data(), info.frames);
    sf_close(file);
    if (got <= 0) {
        error = path + ": the file holds no samples";
        return false;
    }
    std::vector<double> mono(static_cast<std::size_t>(got));
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = frames[i * static_cast<std::size_t>(info.channels)] * 32768.0;
    try {
        if (info.samplerate != 48000) mono = sim::resample(mono, 48000.0 / info.samplerate);
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
    samples.reserve(mono.size());
    for (const double v : mono) samples.push_back(dsp::to_sample16(v));
    return true;
}

}  // namespace tarpo::engine
