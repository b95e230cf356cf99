// Trains the line spectral frequency quantiser tables: runs the encoder's analysis over
// training speech and designs a Lloyd-Max scalar quantiser for each frequency, with the bit
// allocation of the frame, then prints the tables as C++ for codec/quantiser.cpp.
//
// Usage: lsf_train OUTDIR [IN.wav ...]
//   Without inputs, espeak-ng speaks training sentences (different from the benchmark's) in
//   several voices into OUTDIR.
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/quality/quality.h"
#include "codec/encoder.h"

namespace fs = std::filesystem;
using namespace tarpo::codec;

namespace {

std::vector<std::int16_t> read_8k(const fs::path& p) {
    SF_INFO info{};
    SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<double> x(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(f, x.data(), info.frames);
    sf_close(f);
    std::vector<double> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = x[i * info.channels];
    const auto y = tarpo::quality::resample(mono, info.samplerate, 8000.0);
    double peak = 1e-9;
    for (double v : y) peak = std::max(peak, std::abs(v));
    std::vector<std::int16_t> s(y.size());
    for (std::size_t i = 0; i < y.size(); ++i)
        s[i] = static_cast<std::int16_t>(std::lround(y[i] / peak * 0.7 * 32767));
    return s;
}

std::vector<double> lloyd_max(std::vector<double> v, std::size_t levels) {
    std::sort(v.begin(), v.end());
    std::vector<double> c(levels);
    for (std::size_t k = 0; k < levels; ++k) c[k] = v[(2 * k + 1) * v.size() / (2 * levels)];
    for (int it = 0; it < 200; ++it) {
        std::vector<double> sum(levels, 0.0);
        std::vector<std::size_t> n(levels, 0);
        for (double x : v) {
            std::size_t best = 0;
            for (std::size_t k = 1; k < levels; ++k)
                if (std::abs(x - c[k]) < std::abs(x - c[best])) best = k;
            sum[best] += x;
            ++n[best];
        }
        for (std::size_t k = 0; k < levels; ++k)
            if (n[k] > 0) c[k] = sum[k] / n[k];
    }
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lsf_train OUTDIR [IN.wav ...]\n");
        return 1;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    std::vector<fs::path> inputs;
    for (int i = 2; i < argc; ++i) inputs.emplace_back(argv[i]);
    if (inputs.empty()) {
        const char* voices[] = {"en+m1",
                                "en+m2",
                                "en+m4",
                                "en+f1",
                                "en+f2",
                                "en+f4",
                                "en-us+m2",
                                "en-us+m5",
                                "en-us+f1",
                                "en-us+f4",
                                "en-gb-scotland+m3",
                                "en-gb-scotland+f3"};
        const char* text[] = {
            "Good morning, this is a test of the digital voice system on forty metres.",
            "She sells sea shells by the sea shore while the children watch.",
            "My antenna is a simple dipole, about ten metres above the ground.",
            "Numbers: one two three four five six seven eight nine zero.",
            "How do you copy? The band is noisy tonight but your signal is strong."};
        int k = 0;
        for (const char* v : voices)
            for (const char* t : text) {
                const fs::path p = out / ("train" + std::to_string(k++) + ".wav");
                const std::string cmd = std::string("espeak-ng -v ") + v + " -w '" + p.string() +
                                        "' \"" + t + "\" 2>/dev/null";
                if (std::system(cmd.c_str()) == 0) inputs.push_back(p);
            }
    }
    std::array<std::vector<double>, lpc_order> data;
    for (const auto& p : inputs) {
        auto s = read_8k(p);
        s.resize((s.size() / frame_samples + 1) * frame_samples, 0);
        Encoder enc;
        for (std::size_t at = 0; at < s.size(); at += frame_samples) {
            enc.analyse(std::span<const std::int16_t, frame_samples>(s.data() + at, frame_samples));
            const auto& a = enc.last_analysis();
            if (a.energy_db[1] < -45.0) continue;  // speech frames only
            for (std::size_t i = 0; i < lpc_order; ++i)
                data[i].push_back(a.lsf[i] * 8000.0 / (2.0 * pi));
        }
    }
    std::printf("// %zu training frames from %zu files\n", data[0].size(), inputs.size());
    for (std::size_t i = 0; i < lpc_order; ++i) {
        const auto c = lloyd_max(data[i], std::size_t{1} << lsf_bits[i]);
        std::printf("constexpr std::array<double, %zu> lsf%zu = {", c.size(), i);
        for (std::size_t k = 0; k < c.size(); ++k) std::printf("%s%.0f", k ? ", " : "", c[k]);
        std::printf("};\n");
    }
    return 0;
}
