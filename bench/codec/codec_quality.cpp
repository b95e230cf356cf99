// Codec quality benchmark. For each set of inputs it prints, per condition, the mean STOI,
// mel-cepstral distortion, WARP-Q and high-band periodicity (1 = as periodic as the
// original, above 1 = buzz): our codec clean, with 1 % and 3 % random bit errors, hard and
// soft decoding on a simulated soft bit channel at 1, 3 and 10 % bit errors, through
// the modem at 6 dB SNR (when the voice path is built), and as black-box references LPC-10
// at 2400 bit/s (spandsp), Speex narrowband at quality 0 (2150 bit/s) and 1 (3950 bit/s) and
// Opus at 6 kbit/s (the Debian command-line tools). Every decoded signal is written as an
// 8 kHz WAV file, so that anyone can listen to it; the per-file figures go to report.txt.
//
// Usage: codec_quality [OUTDIR] [--ours] [--errors-in FIRST END] [--set NAME LIST.txt]...
//                      [IN.wav ...]
//   OUTDIR defaults to out/codec-bench. Without sets or inputs: the held-out corpus subset
//   (out/corpus/eval.txt, made by scripts/speech-corpus) when it exists, and the synthetic
//   set: sentences spoken by espeak-ng and the recorded voices in /usr/share/sounds/alsa.
//   --ours measures only our codec, clean and with 1 % bit errors (quick, for tuning).
//   --soft measures only hard against soft decoding on the simulated soft bit channel
//   (bench/codec/bit_channel.h) at 1, 3 and 10 % bit errors.
//   --errors-in puts the bit errors only on frame positions FIRST..END-1, to measure what
//   errors in one field cost.
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
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
#include <tuple>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "bench/codec/corpus.h"
#include "bench/quality/quality.h"
#include "bit_channel.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/soft_decoder.h"
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
    double soft_s = 0.0;  // the soft decoder's, on bit-channel ratios
    std::size_t soft_frames = 0;
};
Timing g_timing;
// Bit errors fall only on the frame positions from..to-1 (--errors-in): for measuring what
// errors in each field cost.
std::size_t g_errors_from = 0, g_errors_to = frame_bits;

// Any WAV file as 8 kHz mono; normalised: peaks at -3 dBFS, like a well-set microphone.
std::vector<double> read_wav_8k(const fs::path& path, bool normalise = true) {
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
    if (!normalise) return x;
    double peak = 0.0;
    for (double v : x) peak = std::max(peak, std::abs(v));
    if (peak > 0.0)
        for (double& v : x) v *= 0.708 / peak;
    return x;
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

// Runs one 40 ms frame at a time through `frame` (320 samples in, 320 out), with half a
// second of trailing silence to flush the codec's delay.
template <typename Frame>
std::vector<double> frame_by_frame(const std::vector<double>& x, Frame frame) {
    std::vector<double> padded = x;
    padded.resize(x.size() + 4000, 0.0);
    const auto pcm = to_pcm(padded, frame_samples);
    std::vector<std::int16_t> out(pcm.size());
    for (std::size_t at = 0; at < pcm.size(); at += frame_samples)
        frame(pcm.data() + at, out.data() + at);
    return from_pcm(out);
}

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Our codec, with each bit flipped with probability ber (seeded: the same errors every run).
// A seed of the condition's and the input's own, so that every file meets its own errors: the
// same pattern on every file would put its errors at the same moments of every prompt (its
// first syllable, say), and the mean over the set would hang on where that one pattern falls.
std::uint64_t file_seed(const std::vector<double>& x, std::uint64_t seed) {
    std::uint64_t h = 1469598103934665603ull ^ seed;  // FNV-1a over the samples
    for (const double v : x) {
        h ^= static_cast<std::uint64_t>(std::lround(v * 32768.0));
        h *= 1099511628211ull;
    }
    return h;
}

std::vector<double> run_tarpo(const std::vector<double>& x, double ber, std::uint64_t seed) {
    tarpo::codec::Encoder enc;
    tarpo::codec::Decoder dec;
    std::mt19937_64 rng(file_seed(x, seed));
    std::array<std::uint8_t, frame_bits> bits{};
    return frame_by_frame(x, [&](const std::int16_t* in, std::int16_t* speech) {
        const auto t0 = std::chrono::steady_clock::now();
        enc.encode(in, bits.data());
        const double encode_s = seconds_since(t0);
        for (std::size_t i = 0; i < frame_bits; ++i) {
            const bool flip = static_cast<double>(rng() >> 11) * 0x1p-53 < ber;
            if (flip && i >= g_errors_from && i < g_errors_to) bits[i] ^= 1;
        }
        const auto t2 = std::chrono::steady_clock::now();
        dec.decode(bits.data(), speech);
        if (ber == 0.0) {
            g_timing.encode_s += encode_s;
            g_timing.decode_s += seconds_since(t2);
            ++g_timing.frames;
        }
    });
}

// Our codec through the simulated soft bit channel at bit error rate ber: the same noise
// decoded from its hard decisions or from its log-likelihood ratios.
std::vector<double> run_bit_channel(const std::vector<double>& x, double ber, bool soft,
                                    std::uint64_t seed) {
    tarpo::codec::Encoder enc;
    tarpo::codec::SoftDecoder dec;
    tarpo::bench::BitChannel channel(ber, file_seed(x, seed));
    std::array<std::uint8_t, frame_bits> bits{}, hard{};
    std::array<float, frame_bits> llr{};
    return frame_by_frame(x, [&](const std::int16_t* in, std::int16_t* speech) {
        enc.encode(in, bits.data());
        channel.send(bits, hard, llr);
        if (!soft) {
            dec.decode(hard.data(), speech);
            return;
        }
        const auto t0 = std::chrono::steady_clock::now();
        dec.decode(llr.data(), speech);
        g_timing.soft_s += seconds_since(t0);
        ++g_timing.soft_frames;
    });
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

// A reference codec run as a black box through its command-line tools: x is written to a
// file, encoded and decoded back. The commands get the file names as $IN, $CODED and $OUT.
std::vector<double> run_tool(const std::vector<double>& x, const std::string& encode,
                             const std::string& decode, const char* suffix) {
    const fs::path dir = fs::temp_directory_path() / "tarpo-codec-bench";
    fs::create_directories(dir);
    const fs::path in = dir / "in.wav", coded = dir / (std::string("coded.") + suffix),
                   out = dir / "out.wav";
    fs::remove(out);
    tarpo::bench::write_speech_8k(in, x);
    auto expand = [&](std::string cmd) {
        for (const auto& [key, path] : {std::pair{"$IN", in}, {"$CODED", coded}, {"$OUT", out}})
            for (std::size_t at; (at = cmd.find(key)) != std::string::npos;)
                cmd.replace(at, std::string(key).size(), "'" + path.string() + "'");
        return cmd + " >/dev/null 2>&1";
    };
    if (std::system(expand(encode).c_str()) != 0 || std::system(expand(decode).c_str()) != 0)
        return {};
    return read_wav_8k(out, false);
}

std::vector<double> run_speex(const std::vector<double>& x, int quality) {
    return run_tool(x, "speexenc -n --quality " + std::to_string(quality) + " $IN $CODED",
                    "speexdec $CODED $OUT", "spx");
}

std::vector<double> run_opus(const std::vector<double>& x) {
    return run_tool(x, "opusenc --quiet --bitrate 6 $IN $CODED",
                    "opusdec --quiet --rate 8000 $CODED $OUT", "opus");
}

struct Score {
    double stoi = NAN, mcd = NAN, warp_q = NAN, buzz = NAN;
};

Score score(const std::vector<double>& clean, const std::vector<double>& decoded) {
    using namespace tarpo::quality;
    std::vector<double> ref = clean, deg = decoded;
    align(ref, deg, envelope_delay(clean, decoded, max_delay_samples));
    return {stoi(ref, deg, rate_hz), mel_cepstral_distortion(ref, deg, rate_hz),
            warp_q(clean, decoded, rate_hz), high_band_periodicity(ref, deg, rate_hz)};
}

std::vector<fs::path> synthetic_inputs(const fs::path& dir) {
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

std::vector<fs::path> read_list(const fs::path& list) {
    std::vector<fs::path> in;
    std::ifstream f(list);
    for (std::string line; std::getline(f, line);)
        if (!line.empty()) in.emplace_back(line);
    return in;
}

struct Condition {
    const char* name;
    std::function<std::vector<double>(const std::vector<double>&)> run;
};

struct InputSet {
    std::string name;
    std::vector<fs::path> files;
};

class Report {
  public:
    explicit Report(const fs::path& path) : file_(std::fopen(path.c_str(), "w")) {}
    ~Report() {
        if (file_) std::fclose(file_);
    }
    // To the screen and the report file.
    template <typename... Args>
    void both(const char* fmt, Args... args) {
        std::printf(fmt, args...);
        std::fflush(stdout);
        file(fmt, args...);
    }
    template <typename... Args>
    void file(const char* fmt, Args... args) {
        if (file_) std::fprintf(file_, fmt, args...);
    }

  private:
    std::FILE* file_;
};

// Mean of the finite values.
struct Mean {
    double sum = 0.0;
    std::size_t n = 0;
    void add(double v) {
        if (std::isfinite(v)) {
            sum += v;
            ++n;
        }
    }
    double get() const { return n ? sum / n : NAN; }
};

void measure_set(const InputSet& set, const std::vector<Condition>& conditions, const fs::path& out,
                 Report& report) {
    const fs::path dir = out / set.name;
    fs::create_directories(dir);
    std::vector<std::array<Mean, 4>> mean(conditions.size());
    std::size_t files = 0;
    double seconds = 0.0;
    for (const auto& path : set.files) {
        const auto x = read_wav_8k(path);
        if (x.size() < 4000) continue;
        ++files;
        seconds += x.size() / rate_hz;
        const std::string stem =
            path.parent_path().filename().string() + "_" + path.stem().string();
        report.file("%-40s", stem.c_str());
        for (std::size_t c = 0; c < conditions.size(); ++c) {
            const auto y = conditions[c].run ? conditions[c].run(x) : std::vector<double>{};
            if (y.empty()) continue;
            std::string tag = conditions[c].name;
            for (char& ch : tag)
                if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
            tarpo::bench::write_speech_8k(dir / (stem + "." + tag + ".wav"), y);
            const Score s = score(x, y);
            for (std::size_t m = 0; m < 4; ++m)
                mean[c][m].add(std::array{s.stoi, s.mcd, s.warp_q, s.buzz}[m]);
            report.file(" | %5.3f %5.2f %5.3f %5.2f", s.stoi, s.mcd, s.warp_q, s.buzz);
        }
        report.file("\n");
    }
    report.both("\n%s: %zu files, %.1f minutes of speech\n", set.name.c_str(), files,
                seconds / 60.0);
    // STOI to five places: the targets are differences of a few thousandths.
    report.both("%-28s %8s %8s %7s %6s\n", "condition", "STOI", "MCD dB", "WARP-Q", "buzz");
    for (std::size_t c = 0; c < conditions.size(); ++c) {
        if (mean[c][0].n == 0) {
            report.both("%-28s %8s\n", conditions[c].name, "n/a");
            continue;
        }
        report.both("%-28s %8.5f %8.2f %7.3f %6.2f\n", conditions[c].name, mean[c][0].get(),
                    mean[c][1].get(), mean[c][2].get(), mean[c][3].get());
    }
}

}  // namespace

int main(int argc, char** argv) {
    fs::path out = "out/codec-bench";
    std::vector<InputSet> sets;
    InputSet loose{"inputs", {}};
    bool ours_only = false;
    bool soft_only = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--ours") {
            ours_only = true;
        } else if (a == "--soft") {
            soft_only = true;
        } else if (a == "--errors-in" && i + 2 < argc) {
            g_errors_from = std::stoul(argv[i + 1]);
            g_errors_to = std::stoul(argv[i + 2]);
            i += 2;
        } else if (a == "--set" && i + 2 < argc) {
            sets.push_back({argv[i + 1], read_list(argv[i + 2])});
            i += 2;
        } else if (i == 1 && fs::path(a).extension() != ".wav") {
            out = a;
        } else {
            loose.files.emplace_back(a);
        }
    }
    fs::create_directories(out);
    if (!loose.files.empty()) sets.push_back(loose);
    if (sets.empty()) {
        if (fs::exists("out/corpus/eval.txt"))
            sets.push_back({"held-out", read_list("out/corpus/eval.txt")});
        sets.push_back({"synthetic", synthetic_inputs(out / "input")});
    }

    std::vector<Condition> conditions = {
        {"ours 1350", [](const auto& x) { return run_tarpo(x, 0.0, 1); }},
        {"ours, 1 % bit errors", [](const auto& x) { return run_tarpo(x, 0.01, 2); }},
    };
    if (soft_only) conditions.clear();
    if (!ours_only) {
        // Hard and soft decoding of the same simulated soft bits.
        for (const auto& [name, ber, soft] : {std::tuple{"bit channel 1 %, hard", 0.01, false},
                                              {"bit channel 1 %, soft", 0.01, true},
                                              {"bit channel 3 %, hard", 0.03, false},
                                              {"bit channel 3 %, soft", 0.03, true},
                                              {"bit channel 10 %, hard", 0.10, false},
                                              {"bit channel 10 %, soft", 0.10, true}})
            conditions.push_back(
                {name, [ber, soft](const auto& x) { return run_bit_channel(x, ber, soft, 7); }});
    }
    if (!ours_only && !soft_only) {
        conditions.push_back(
            {"ours, 3 % bit errors", [](const auto& x) { return run_tarpo(x, 0.03, 3); }});
        conditions.push_back({"ours, modem at 6 dB SNR", tarpo::bench::modem_channel_6db()});
        conditions.push_back({"LPC-10 2400", run_lpc10});
        conditions.push_back(
            {"Speex 2150 (quality 0)", [](const auto& x) { return run_speex(x, 0); }});
        conditions.push_back(
            {"Speex 3950 (quality 1)", [](const auto& x) { return run_speex(x, 1); }});
        conditions.push_back({"Opus 6000", run_opus});
    }

    Report report(out / "report.txt");
    report.file("per file: STOI MCD WARP-Q buzz for each condition in order\n");
    for (const auto& c : conditions) report.file("  %s\n", c.name);
    for (const auto& set : sets) measure_set(set, conditions, out, report);
    if (g_timing.frames > 0)
        report.both("\nCPU per 40 ms frame: encoder %.1f us, decoder %.1f us (%zu frames)\n",
                    1e6 * g_timing.encode_s / g_timing.frames,
                    1e6 * g_timing.decode_s / g_timing.frames, g_timing.frames);
    if (g_timing.soft_frames > 0)
        report.both("CPU per 40 ms frame: soft decoder %.1f us (%zu frames)\n",
                    1e6 * g_timing.soft_s / g_timing.soft_frames, g_timing.soft_frames);
    report.both("decoded files: %s/<set>/<input>.<condition>.wav (8 kHz)\n", out.c_str());
    return 0;
}
