// Codec quality benchmark. For every input it prints STOI and mel-cepstral distortion of:
// our codec, our codec with 1 % and 3 % random bit errors, our codec through the modem at
// 6 dB SNR (when the hook is filled in), and LPC-10 at 2400 bit/s as the reference point;
// then the averages and the codec's CPU time per frame. Every decoded signal is written as
// an 8 kHz WAV file beside the report, so that anyone can listen to it.
//
// Usage: codec_quality [OUTDIR] [IN.wav ...]
//   OUTDIR defaults to out/codec-bench. Without inputs: sentences spoken by espeak-ng
//   (generated into OUTDIR/input) and the recorded voices in /usr/share/sounds/alsa.
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "bench/quality/quality.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "modem_hook.h"

namespace fs = std::filesystem;
using tarpo::codec::frame_bits;
using tarpo::codec::frame_samples;

namespace {

constexpr double rate_hz = 8000.0;
constexpr std::size_t max_delay_samples = 4000;  // samples: 0.5 s, more than any codec here delays

struct Timing {
    double encode_s = 0.0, decode_s = 0.0;
    std::size_t frames = 0;
};
Timing g_timing;

std::vector<double> read_wav_8k(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<double> inter(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(f, inter.data(), info.frames);
    sf_close(f);
    std::vector<double> mono(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        double s = 0.0;
        for (int c = 0; c < info.channels; ++c) s += inter[i * info.channels + c];
        mono[i] = s / info.channels;
    }
    auto x = tarpo::quality::resample(mono, info.samplerate, rate_hz);
    // Same level for every input: peaks at -3 dBFS, like a well-set microphone.
    double peak = 0.0;
    for (double v : x) peak = std::max(peak, std::abs(v));
    if (peak > 0.0)
        for (double& v : x) v *= 0.708 / peak;
    return x;
}

void write_wav_8k(const fs::path& path, const std::vector<double>& x) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate_hz);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return;
    sf_writef_double(f, x.data(), static_cast<sf_count_t>(x.size()));
    sf_close(f);
}

std::vector<std::int16_t> to_pcm(const std::vector<double>& x, std::size_t multiple) {
    std::vector<std::int16_t> s((x.size() + multiple - 1) / multiple * multiple, 0);
    for (std::size_t i = 0; i < x.size(); ++i)
        s[i] = static_cast<std::int16_t>(std::clamp(std::lround(x[i] * 32768.0), -32768L, 32767L));
    return s;
}

std::vector<double> from_pcm(const std::vector<std::int16_t>& s) {
    std::vector<double> x(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) x[i] = s[i] / 32768.0;
    return x;
}

// Our codec, with each bit flipped with probability ber (seeded: the same errors every run).
std::vector<double> run_tarpo(const std::vector<double>& x, double ber, std::uint64_t seed) {
    // Half a second of trailing silence flushes the codec's delay.
    std::vector<double> padded = x;
    padded.resize(x.size() + 4000, 0.0);
    const auto pcm = to_pcm(padded, frame_samples);
    std::vector<std::int16_t> out(pcm.size());
    tarpo::codec::Encoder enc;
    tarpo::codec::Decoder dec;
    std::mt19937_64 rng(seed);
    std::array<std::uint8_t, frame_bits> bits{};
    for (std::size_t at = 0; at < pcm.size(); at += frame_samples) {
        const auto t0 = std::chrono::steady_clock::now();
        enc.encode(std::span<const std::int16_t, frame_samples>(pcm.data() + at, frame_samples),
                   bits);
        const auto t1 = std::chrono::steady_clock::now();
        for (auto& b : bits)
            if (static_cast<double>(rng() >> 11) * 0x1p-53 < ber) b ^= 1;
        const auto t2 = std::chrono::steady_clock::now();
        dec.decode(bits, std::span<std::int16_t, frame_samples>(out.data() + at, frame_samples));
        const auto t3 = std::chrono::steady_clock::now();
        if (ber == 0.0) {
            g_timing.encode_s += std::chrono::duration<double>(t1 - t0).count();
            g_timing.decode_s += std::chrono::duration<double>(t3 - t2).count();
            ++g_timing.frames;
        }
    }
    return from_pcm(out);
}

// LPC-10 at 2400 bit/s from libspandsp, used only through its public API as a reference.
std::vector<double> run_lpc10(const std::vector<double>& x) {
    constexpr std::size_t lpc_frame = 180;  // 22.5 ms, 54 bits in 7 bytes
    std::vector<double> padded = x;
    padded.resize(x.size() + 4000, 0.0);
    const auto pcm = to_pcm(padded, lpc_frame);
    std::vector<std::int16_t> out(pcm.size());
    lpc10_encode_state_t* e = lpc10_encode_init(nullptr, 0);
    lpc10_decode_state_t* d = lpc10_decode_init(nullptr, 0);
    std::array<std::uint8_t, 7> code{};
    for (std::size_t at = 0; at < pcm.size(); at += lpc_frame) {
        lpc10_encode(e, code.data(), pcm.data() + at, lpc_frame);
        lpc10_decode(d, out.data() + at, code.data(), 7);
    }
    lpc10_encode_free(e);
    lpc10_decode_free(d);
    return from_pcm(out);
}

struct Score {
    double stoi = NAN, mcd = NAN;
};

Score score(const std::vector<double>& clean, const std::vector<double>& decoded) {
    using namespace tarpo::quality;
    std::vector<double> ref = clean, deg = decoded;
    align(ref, deg, envelope_delay(clean, decoded, max_delay_samples));
    return {stoi(ref, deg, rate_hz), mel_cepstral_distortion(ref, deg, rate_hz)};
}

std::vector<fs::path> default_inputs(const fs::path& dir) {
    std::vector<fs::path> in;
    fs::create_directories(dir);
    // Two accents (British and American English), male and female variants.
    const std::array<const char*, 4> voices = {"en+m3", "en+f3", "en-us+m1", "en-us+f2"};
    const std::array<const char*, 2> sentences = {
        "The quick brown fox jumps over the lazy dog near the river bank.",
        "Please send my best regards to the station in Norway, over."};
    for (const char* v : voices) {
        for (std::size_t s = 0; s < sentences.size(); ++s) {
            std::string name = std::string(v) + "_s" + std::to_string(s + 1) + ".wav";
            std::replace(name.begin(), name.end(), '+', '_');
            const fs::path p = dir / name;
            const std::string cmd = std::string("espeak-ng -v ") + v + " -w '" + p.string() +
                                    "' \"" + sentences[s] + "\" 2>/dev/null";
            if (std::system(cmd.c_str()) == 0 && fs::exists(p)) in.push_back(p);
        }
    }
    const fs::path alsa = "/usr/share/sounds/alsa";
    std::vector<fs::path> recorded;
    if (fs::exists(alsa))
        for (const auto& e : fs::directory_iterator(alsa))
            if (e.path().extension() == ".wav" && e.path().stem() != "Noise")
                recorded.push_back(e.path());
    std::sort(recorded.begin(), recorded.end());
    in.insert(in.end(), recorded.begin(), recorded.end());
    return in;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path out = argc > 1 ? fs::path(argv[1]) : fs::path("out/codec-bench");
    fs::create_directories(out);
    std::vector<fs::path> inputs;
    for (int i = 2; i < argc; ++i) inputs.emplace_back(argv[i]);
    if (inputs.empty()) inputs = default_inputs(out / "input");
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs (espeak-ng and /usr/share/sounds/alsa missing?)\n");
        return 1;
    }

    const tarpo::bench::SpeechChannel modem = tarpo::bench::modem_channel_6db();
    struct Condition {
        const char* name;
        std::function<std::vector<double>(const std::vector<double>&)> run;
    };
    std::vector<Condition> conditions = {
        {"tarpo", [](const auto& x) { return run_tarpo(x, 0.0, 1); }},
        {"tarpo 1%", [](const auto& x) { return run_tarpo(x, 0.01, 2); }},
        {"tarpo 3%", [](const auto& x) { return run_tarpo(x, 0.03, 3); }},
        {"modem 6dB", modem},
        {"LPC-10", run_lpc10},
    };

    std::FILE* report = std::fopen((out / "report.txt").c_str(), "w");
    auto print = [&](const char* fmt, auto... args) {
        std::printf(fmt, args...);
        if (report) std::fprintf(report, fmt, args...);
    };
    print("%-22s", "STOI / MCD dB");
    for (const auto& c : conditions) print(" | %-16s", c.name);
    print("\n");

    std::vector<double> stoi_sum(conditions.size(), 0.0), mcd_sum(conditions.size(), 0.0);
    std::vector<std::size_t> counted(conditions.size(), 0);
    for (const auto& path : inputs) {
        const auto x = read_wav_8k(path);
        if (x.size() < 4000) continue;
        const std::string stem = path.stem().string();
        print("%-22s", stem.c_str());
        for (std::size_t c = 0; c < conditions.size(); ++c) {
            if (!conditions[c].run) {
                print(" | %-16s", "n/a");
                continue;
            }
            const auto y = conditions[c].run(x);
            std::string tag = conditions[c].name;
            std::replace(tag.begin(), tag.end(), ' ', '_');
            std::replace(tag.begin(), tag.end(), '%', 'p');
            write_wav_8k(out / (stem + "." + tag + ".wav"), y);
            const Score s = score(x, y);
            stoi_sum[c] += s.stoi;
            mcd_sum[c] += s.mcd;
            ++counted[c];
            print(" | %6.3f %6.2f   ", s.stoi, s.mcd);
        }
        print("\n");
    }
    print("%-22s", "AVERAGE");
    for (std::size_t c = 0; c < conditions.size(); ++c) {
        if (counted[c] == 0)
            print(" | %-16s", "n/a");
        else
            print(" | %6.3f %6.2f   ", stoi_sum[c] / counted[c], mcd_sum[c] / counted[c]);
    }
    print("\n");
    if (g_timing.frames > 0)
        print("CPU per 40 ms frame: encoder %.1f us, decoder %.1f us (%zu frames)\n",
              1e6 * g_timing.encode_s / g_timing.frames, 1e6 * g_timing.decode_s / g_timing.frames,
              g_timing.frames);
    print("decoded files: %s/<input>.<condition>.wav (8 kHz)\n", out.c_str());
    if (report) std::fclose(report);
    return 0;
}
