#include "corpus.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include "bench/quality/quality.h"

namespace tarpo::bench {

namespace fs = std::filesystem;

void write_speech_8k(const fs::path& p, const std::vector<double>& x, std::size_t max_samples) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
    if (!f) return;
    sf_writef_double(f, x.data(), static_cast<sf_count_t>(std::min(x.size(), max_samples)));
    sf_close(f);
}

std::vector<std::int16_t> read_speech_8k(const fs::path& p) {
    SF_INFO info{};
    SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<double> x(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(f, x.data(), info.frames);
    sf_close(f);
    std::vector<double> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = x[i * info.channels];
    const auto y = quality::resample(mono, info.samplerate, codec::sample_rate);
    double peak = 1e-9;
    for (double v : y) peak = std::max(peak, std::abs(v));
    std::vector<std::int16_t> s(y.size());
    for (std::size_t i = 0; i < y.size(); ++i)
        s[i] = static_cast<std::int16_t>(std::lround(y[i] / peak * 0.708 * 32767));
    return s;
}

std::vector<fs::path> speech_files(const std::vector<std::string>& args) {
    std::vector<fs::path> files;
    for (const auto& a : args) {
        if (fs::path(a).extension() == ".wav") {
            files.emplace_back(a);
            continue;
        }
        std::ifstream list(a);
        for (std::string line; std::getline(list, line);)
            if (!line.empty()) files.emplace_back(line);
    }
    return files;
}

std::vector<AnalysedFrame> analyse_files(const std::vector<fs::path>& files) {
    using codec::frame_samples;
    std::vector<AnalysedFrame> frames;
    std::vector<std::string> speakers;
    for (const auto& p : files) {
        const std::string dir = p.parent_path().filename().string();
        const std::string name = dir.substr(dir.find_last_of('_') + 1);
        auto known = std::find(speakers.begin(), speakers.end(), name);
        if (known == speakers.end()) known = speakers.insert(speakers.end(), name);
        const int speaker = static_cast<int>(known - speakers.begin());
        auto s = read_speech_8k(p);
        if (s.empty()) continue;
        s.resize((s.size() + 4000) / frame_samples * frame_samples + frame_samples, 0);
        codec::Encoder enc;
        for (std::size_t at = 0; at < s.size(); at += frame_samples) {
            AnalysedFrame f;
            f.indices = enc.analyse(s.data() + at);
            f.analysis = enc.last_analysis();
            f.first = at == 0;
            f.speaker = speaker;
            frames.push_back(f);
        }
    }
    return frames;
}

}  // namespace tarpo::bench
