#include "app/wavfile.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>

#include "sim/channel.h"

namespace tarpo::app {

namespace {

std::string describe_format(int format) {
    SF_FORMAT_INFO major{};
    major.format = format & SF_FORMAT_TYPEMASK;
    std::string text = "unknown";
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof(major)) == 0 && major.name)
        text = major.name;
    SF_FORMAT_INFO sub{};
    sub.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof(sub)) == 0 && sub.name)
        text += std::string(" ") + sub.name;
    return text;
}

}  // namespace

bool read_sound(const std::string& path, int rate, std::vector<double>& samples, SoundInfo& info,
                std::string& error) {
    samples.clear();
    SF_INFO sfinfo{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sfinfo);
    if (!file) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    info.rate = sfinfo.samplerate;
    info.channels = sfinfo.channels;
    info.format = describe_format(sfinfo.format);
    info.frames = sfinfo.frames;
    if (sfinfo.frames <= 0 || sfinfo.channels <= 0 || sfinfo.samplerate <= 0) {
        sf_close(file);
        error = path + ": the file holds no samples";
        return false;
    }
    // Read as double in 16-bit units: libsndfile scales float formats and every PCM width to
    // [-1, 1) and we multiply by 32768.
    std::vector<double> frames(static_cast<std::size_t>(sfinfo.frames) *
                               static_cast<std::size_t>(sfinfo.channels));
    const sf_count_t got = sf_readf_double(file, frames.data(), sfinfo.frames);
    sf_close(file);
    if (got <= 0) {
        error = path + ": no samples could be read";
        return false;
    }
    std::vector<double> mono(static_cast<std::size_t>(got));
    for (sf_count_t i = 0; i < got; ++i)
        mono[static_cast<std::size_t>(i)] =
            frames[static_cast<std::size_t>(i * sfinfo.channels)] * 32768.0;

    if (sfinfo.samplerate == rate) {
        samples = std::move(mono);
        return true;
    }
    try {
        samples = sim::resample(mono, static_cast<double>(rate) / sfinfo.samplerate);
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
    return true;
}

bool write_wav16(const std::string& path, int rate, const std::vector<std::int16_t>& samples,
                 std::string& error) {
    const std::string tmp = path + ".part";
    SF_INFO sfinfo{};
    sfinfo.samplerate = rate;
    sfinfo.channels = 1;
    sfinfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(tmp.c_str(), SFM_WRITE, &sfinfo);
    if (!file) {
        error = path + ": cannot write: " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t n = static_cast<sf_count_t>(samples.size());
    const bool ok = sf_write_short(file, samples.data(), n) == n;
    sf_close(file);
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        error = path + ": cannot write the file";
        return false;
    }
    return true;
}

}  // namespace tarpo::app
