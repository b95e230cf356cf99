// Speech over the air: held-out recordings through the transmit pass, the HF channel
// simulator and the receive pass, for three receiving chains on the same received signal:
// the differential receiver with hard decoding, the enhanced receiver with hard decisions, and
// the enhanced receiver with soft decoding (the program's default). Channels: AWGN at SNR 0, 3,
// 6 and 9 dB; good, moderate and poor two-path fading at SNR 6, 9, 12 and 18 dB (in 3000 Hz),
// each with a fixed seed. Per point and chain: mean STOI, mel-cepstral distortion and WARP-Q
// over the files against the original, the share of frames concealed and of frames the
// squelch withheld; the clean codec (no modem) as the reference. Writes over_the_air.csv, the
// gnuplot data and script, over_the_air.png (when gnuplot is there) and the first 30 s of
// every decoded stream as 8 kHz WAV files for listening.
//
// The files are sent one after the other with half a second of silence between them, as one
// long transmission; the decoded stream (as the program's voice output plays it: silence where
// no frame came or the squelch withheld it) is cut back into files: the first at the chain's
// delay on the noiseless signal, each within +-200 ms of where the one before it was found
// (the voice output's queue can grow or shrink by a block).
//
// Usage: over_the_air [--files N] [--threads 1|2] [--list LIST.txt] [--only POINTS] [OUT_DIR]
//   defaults: every file of out/corpus/eval.txt (scripts/speech-corpus), 2 threads,
//   out/over-the-air. --files N takes the list's first N files; --only the points whose names
//   appear in POINTS, e.g. "moderate_12dB awgn_6dB". Tune on out/corpus/dev.txt, never on the
//   held-out list.
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/speech_path.h"
#include "bench/codec/corpus.h"
#include "bench/quality/quality.h"
#include "codec/encoder.h"
#include "codec/soft_decoder.h"
#include "sim/channel.h"
#include "voice/codec_adapter.h"

namespace fs = std::filesystem;
using namespace tarpo;

namespace {

constexpr double rate_hz = 8000.0;
constexpr std::size_t gap_samples = 4000;     // silence before each file, 0.5 s
constexpr std::size_t search_samples = 1600;  // +-200 ms around the expected delay
constexpr std::size_t listen_samples = 30 * 8000;
// Silence put before every decoded stream: a receiver that needs time to synchronise plays
// nothing meanwhile, so its stream can be ahead of the programme.
constexpr std::size_t lead_samples = 8000;

// Our codec as classes of its own (not the library's one stream), so that chains can run in
// parallel; hard chains decode the soft bits' signs, as a codec without soft input would.
class BenchCodec final : public voice::SpeechCodec {
  public:
    explicit BenchCodec(bool soft) : soft_(soft) {}
    void ana_init() override { enc_ = codec::Encoder(); }
    void syn_init() override { dec_ = codec::SoftDecoder(); }
    void encode(const short* speech, unsigned char* bits) override { enc_.encode(speech, bits); }
    void decode(const unsigned char* bits, short* speech) override { dec_.decode(bits, speech); }
    bool decode_soft(const float* llr, short* speech) override {
        if (!soft_) return SpeechCodec::decode_soft(llr, speech);
        const bool c = dec_.decode(llr, speech);
        concealed += c ? 1 : 0;
        return c;
    }
    bool conceals_noise() const override { return soft_; }
    std::uint64_t concealed = 0;

  private:
    bool soft_;
    codec::Encoder enc_;
    codec::SoftDecoder dec_;
};

struct Chain {
    const char* name;
    bool enhanced, soft;
};
constexpr Chain chains[] = {{"differential+hard", false, false},
                            {"enhanced+hard", true, false},
                            {"enhanced+soft", true, true}};
constexpr std::size_t chain_count = std::size(chains);

struct Point {
    sim::Fading fading = sim::Fading::none;
    std::optional<double> snr;  // none: the noiseless reference
    std::string name() const {
        return std::string(fading == sim::Fading::none ? "awgn" : sim::fading_name(fading)) +
               (snr ? "_" + std::to_string(static_cast<int>(*snr)) + "dB" : "_clean");
    }
};

struct Score {
    double stoi = 0.0, mcd = 0.0, warp_q = 0.0;
    double concealed = 0.0, withheld = 0.0;  // shares of the frames
    std::vector<double> warp_q_file;         // per file; NaN where no speech came out
    std::size_t warp_q_files = 0;            // files with a WARP-Q
};

// Mean WARP-Q of two chains over the files where both gave speech: a chain that gets speech
// out of more files at a bad point takes those hard files into its mean, so the plain means
// do not compare like with like.
std::pair<double, double> common_warp_q(const Score& a, const Score& b) {
    double sa = 0.0, sb = 0.0;
    std::size_t n = 0;
    for (std::size_t f = 0; f < a.warp_q_file.size() && f < b.warp_q_file.size(); ++f)
        if (std::isfinite(a.warp_q_file[f]) && std::isfinite(b.warp_q_file[f])) {
            sa += a.warp_q_file[f];
            sb += b.warp_q_file[f];
            ++n;
        }
    if (n == 0) return {NAN, NAN};
    return {sa / static_cast<double>(n), sb / static_cast<double>(n)};
}

// The held-out files as one transmission: gap, file, gap, file, ..., gap.
struct Programme {
    std::vector<std::vector<double>> files;
    std::vector<std::size_t> offsets;
    std::vector<double> stream;
};

Programme programme(const std::vector<fs::path>& paths) {
    Programme p;
    for (const auto& path : paths) {
        const auto s = bench::read_speech_8k(path);
        if (s.size() < 4000) continue;
        std::vector<double> x(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) x[i] = s[i] / 32768.0;
        p.stream.insert(p.stream.end(), gap_samples, 0.0);
        p.offsets.push_back(p.stream.size());
        p.stream.insert(p.stream.end(), x.begin(), x.end());
        p.files.push_back(std::move(x));
    }
    p.stream.insert(p.stream.end(), 2 * gap_samples, 0.0);
    return p;
}

// Mean scores over the files (WARP-Q over those with speech out) of a decoded stream that lags the
// programme by about delay at its start. A frame the receiver lost or doubled shifts the rest by 40
// ms, so each file is looked for around where the one before it was found.
Score score(const Programme& p, const std::vector<double>& decoded, std::size_t delay) {
    Score s;
    std::size_t scored = 0;  // files with a WARP-Q
    for (std::size_t f = 0; f < p.files.size(); ++f) {
        const auto& ref = p.files[f];
        const std::size_t from = p.offsets[f] + delay - search_samples;
        std::vector<double> cut(ref.size() + 2 * search_samples, 0.0);
        for (std::size_t i = 0; i < cut.size() && from + i < decoded.size(); ++i)
            cut[i] = decoded[from + i];
        const std::size_t found = quality::envelope_delay(ref, cut, 2 * search_samples);
        std::vector<double> r = ref, d = cut;
        quality::align(r, d, found);
        delay = std::max(delay + found, 2 * search_samples) - search_samples;
        s.stoi += quality::stoi(r, d, rate_hz);
        s.mcd += quality::mel_cepstral_distortion(r, d, rate_hz);
        const double w = quality::warp_q(r, d, rate_hz);  // NaN: no speech came out
        s.warp_q_file.push_back(w);
        if (std::isfinite(w)) {
            s.warp_q += w;
            ++scored;
        }
    }
    const double n = static_cast<double>(std::max<std::size_t>(p.files.size(), 1));
    s.stoi /= n;
    s.mcd /= n;
    s.warp_q = scored > 0 ? s.warp_q / static_cast<double>(scored) : NAN;
    s.warp_q_files = scored;
    return s;
}

// The programme through our codec alone, encoder straight into decoder.
std::vector<double> clean_codec(const std::vector<double>& stream) {
    using codec::frame_samples;
    codec::Encoder enc;
    codec::Decoder dec;
    std::vector<double> out(stream.size() / frame_samples * frame_samples);
    std::array<std::int16_t, frame_samples> in{}, speech{};
    std::array<std::uint8_t, codec::frame_bits> bits{};
    for (std::size_t at = 0; at + frame_samples <= stream.size(); at += frame_samples) {
        for (std::size_t i = 0; i < frame_samples; ++i)
            in[i] = static_cast<std::int16_t>(std::lround(stream[at + i] * 32767.0));
        enc.encode(in.data(), bits.data());
        dec.decode(bits.data(), speech.data());
        for (std::size_t i = 0; i < frame_samples; ++i) out[at + i] = speech[i] / 32768.0;
    }
    return out;
}

std::vector<double> lead(const std::vector<double>& decoded) {
    std::vector<double> x(lead_samples, 0.0);
    x.insert(x.end(), decoded.begin(), decoded.end());
    return x;
}

struct Job {
    Point point;
    std::array<Score, chain_count> score{};
};

// One point: the channel once, then every chain on the same received signal.
void run_point(const Programme& p, const std::vector<double>& signal,
               const std::array<std::size_t, chain_count>& delay, const fs::path& dir, Job& job) {
    sim::ChannelSettings settings;
    settings.snr_db = job.point.snr;
    settings.fading = job.point.fading;
    settings.seed = 1000 * static_cast<std::uint64_t>(job.point.fading) +
                    static_cast<std::uint64_t>(job.point.snr.value_or(99.0));
    const auto heard = sim::simulate_channel(signal, settings, 48000.0);
    for (std::size_t c = 0; c < chain_count; ++c) {
        BenchCodec codec(chains[c].soft);
        app::ReceiveCounts counts;
        const auto decoded =
            lead(app::receive_speech(heard.samples, chains[c].enhanced, &codec, &counts));
        Score s = score(p, decoded, delay[c]);
        const double frames = static_cast<double>(std::max<std::uint64_t>(counts.played, 1));
        s.concealed = static_cast<double>(codec.concealed) / frames;
        s.withheld =
            static_cast<double>(counts.withheld) /
            static_cast<double>(std::max<std::uint64_t>(counts.played + counts.withheld, 1));
        job.score[c] = s;
        bench::write_speech_8k(dir / (job.point.name() + "." + chains[c].name + ".wav"), decoded,
                               listen_samples);
    }
}

}  // namespace

namespace {

bool write_csv(const fs::path& dir, const Score& clean, const std::vector<Job>& jobs) {
    std::FILE* f = std::fopen((dir / "over_the_air.csv").c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "chain,channel,snr_db,stoi,mcd_db,warp_q,warp_q_files,concealed,withheld\n");
    std::fprintf(f, "clean codec,none,,%.4f,%.3f,%.4f,%zu,0,0\n", clean.stoi, clean.mcd,
                 clean.warp_q, clean.warp_q_files);
    for (const Job& j : jobs)
        for (std::size_t c = 0; c < chain_count; ++c) {
            const Score& s = j.score[c];
            std::fprintf(
                f, "%s,%s,%.0f,%.4f,%.3f,%.4f,%zu,%.4f,%.4f\n", chains[c].name,
                j.point.fading == sim::Fading::none ? "awgn" : sim::fading_name(j.point.fading),
                j.point.snr.value_or(NAN), s.stoi, s.mcd, s.warp_q, s.warp_q_files, s.concealed,
                s.withheld);
        }
    std::fclose(f);
    return true;
}

bool write_plot(const fs::path& dir, const Score& clean, const std::vector<Job>& jobs) {
    const sim::Fading fadings[] = {sim::Fading::none, sim::Fading::good, sim::Fading::moderate,
                                   sim::Fading::poor};
    for (const sim::Fading fd : fadings)
        for (std::size_t c = 0; c < chain_count; ++c) {
            const std::string name =
                std::string(fd == sim::Fading::none ? "awgn" : sim::fading_name(fd)) + "_" +
                chains[c].name + ".dat";
            std::FILE* f = std::fopen((dir / name).c_str(), "w");
            if (!f) return false;
            for (const Job& j : jobs)
                if (j.point.fading == fd)
                    std::fprintf(f, "%.0f %.4f %.4f\n", *j.point.snr, j.score[c].stoi,
                                 j.score[c].warp_q);
            std::fclose(f);
        }
    std::FILE* gp = std::fopen((dir / "over_the_air.gp").c_str(), "w");
    if (!gp) return false;
    std::fprintf(gp,
                 "set terminal pngcairo size 1400,700 font 'Sans,10'\n"
                 "set output 'over_the_air.png'\nset multiplot layout 2,4\nset grid\n"
                 "set xlabel 'SNR in 3000 Hz (dB)'\nset key bottom right\n");
    for (int metric = 0; metric < 2; ++metric)
        for (const sim::Fading fd : fadings) {
            const std::string ch = fd == sim::Fading::none ? "awgn" : sim::fading_name(fd);
            const double ref = metric == 0 ? clean.stoi : clean.warp_q;
            std::fprintf(gp, "set title '%s'\nset ylabel '%s'\n", ch.c_str(),
                         metric == 0 ? "STOI" : "WARP-Q (lower is better)");
            std::fprintf(gp, "plot %.4f with lines dt 2 lc 0 title 'clean codec'", ref);
            for (std::size_t c = 0; c < chain_count; ++c)
                std::fprintf(gp, ", '%s_%s.dat' using 1:%d with linespoints pt %zu title '%s'",
                             ch.c_str(), chains[c].name, metric + 2, 5 + 2 * c, chains[c].name);
            std::fprintf(gp, "\n");
        }
    std::fprintf(gp, "unset multiplot\n");
    std::fclose(gp);
    return true;
}

void print_table(const Score& clean, const std::vector<Job>& jobs) {
    std::printf("\nclean codec: STOI %.3f, MCD %.2f dB, WARP-Q %.3f\n", clean.stoi, clean.mcd,
                clean.warp_q);
    std::printf("%-9s %4s |", "channel", "SNR");
    for (const Chain& c : chains) std::printf(" %-32s|", c.name);
    std::printf("\n%-9s %4s |", "", "dB");
    for (std::size_t c = 0; c < chain_count; ++c)
        std::printf(" %5s %5s %6s %6s %6s |", "STOI", "MCD", "WARP-Q", "conc.", "withh.");
    std::printf("\n");
    for (const Job& j : jobs) {
        std::printf("%-9s %4.0f |",
                    j.point.fading == sim::Fading::none ? "awgn" : sim::fading_name(j.point.fading),
                    *j.point.snr);
        for (const Score& s : j.score)
            std::printf(" %5.3f %5.2f %6.3f %6.3f %6.3f |", s.stoi, s.mcd, s.warp_q, s.concealed,
                        s.withheld);
        std::printf("\n");
    }
}

// The targets: at moderate fading, 12 dB, the soft chain loses at most half of what the
// differential chain loses against the clean codec (STOI and WARP-Q); nowhere worse than the
// differential chain; AWGN 6 dB within 0.01 STOI of the clean codec. Two chains that decode the
// same error-free frames differ by up to this much (frame timing, the queue), which counts as a
// tie.
constexpr double stoi_tie = 0.002, warp_q_tie = 0.005;

void print_targets(const Score& clean, const std::vector<Job>& jobs) {
    int worse = 0;
    for (const Job& j : jobs) {
        const Score &d = j.score[0], &s = j.score[2];
        const auto [dw, sw] = common_warp_q(d, s);
        if (d.warp_q_files != s.warp_q_files)
            std::printf(
                "%s: WARP-Q over %zu / %zu files; over those both gave speech in, "
                "differential+hard %.3f, enhanced+soft %.3f\n",
                j.point.name().c_str(), d.warp_q_files, s.warp_q_files, dw, sw);
        if (s.stoi < d.stoi - stoi_tie || sw > dw + warp_q_tie) {
            ++worse;
            std::printf("enhanced+soft worse than differential+hard at %s\n",
                        j.point.name().c_str());
        } else if (s.stoi < d.stoi || sw > dw) {
            std::printf("enhanced+soft within measurement noise of differential+hard at %s\n",
                        j.point.name().c_str());
        }
        if (j.point.fading == sim::Fading::moderate && *j.point.snr == 12.0)
            std::printf(
                "moderate 12 dB: loss against the clean codec, differential+hard / enhanced+soft: "
                "STOI %.3f / %.3f (%s), WARP-Q %.3f / %.3f (%s)\n",
                clean.stoi - d.stoi, clean.stoi - s.stoi,
                clean.stoi - s.stoi <= 0.5 * (clean.stoi - d.stoi) ? "halved" : "NOT halved",
                d.warp_q - clean.warp_q, s.warp_q - clean.warp_q,
                s.warp_q - clean.warp_q <= 0.5 * (d.warp_q - clean.warp_q) ? "halved"
                                                                           : "NOT halved");
        if (j.point.fading == sim::Fading::none && *j.point.snr == 6.0)
            std::printf("AWGN 6 dB: enhanced+soft STOI %.3f, clean codec %.3f (%s)\n", s.stoi,
                        clean.stoi,
                        clean.stoi - s.stoi <= 0.01 ? "within 0.01" : "NOT within 0.01");
    }
    std::printf("points where enhanced+soft is worse than differential+hard: %d of %zu\n", worse,
                jobs.size());
}

std::vector<Job> grid() {
    std::vector<Job> jobs;
    for (const double snr : {0.0, 3.0, 6.0, 9.0}) jobs.push_back({{sim::Fading::none, snr}, {}});
    for (const sim::Fading f : {sim::Fading::good, sim::Fading::moderate, sim::Fading::poor})
        for (const double snr : {6.0, 9.0, 12.0, 18.0}) jobs.push_back({{f, snr}, {}});
    return jobs;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path dir = "out/over-the-air", list = "out/corpus/eval.txt";
    std::size_t max_files = 0;
    int threads = 2;
    std::string only;  // point names, e.g. "moderate_12dB poor_9dB"
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            max_files = static_cast<std::size_t>(std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = std::clamp(std::atoi(argv[++i]), 1, 2);
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (std::strcmp(argv[i], "--list") == 0 && i + 1 < argc) {
            list = argv[++i];
        } else if (argv[i][0] != '-') {
            dir = argv[i];
        } else {
            std::fprintf(stderr,
                         "usage: over_the_air [--files N] [--threads 1|2] [--list LIST.txt] "
                         "[--only POINTS] [OUT_DIR]\n");
            return 2;
        }
    }
    auto paths = bench::speech_files({list.string()});
    if (max_files > 0 && paths.size() > max_files) paths.resize(max_files);
    const Programme p = programme(paths);
    if (p.files.empty()) {
        std::fprintf(stderr, "over_the_air: no speech in %s (run scripts/speech-corpus)\n",
                     list.c_str());
        return 2;
    }
    fs::create_directories(dir);
    std::printf("%zu files, %.1f minutes of speech\n", p.files.size(),
                static_cast<double>(p.stream.size()) / rate_hz / 60.0);

    const Score clean =
        score(p, clean_codec(p.stream), codec::Encoder::lookahead + codec::Decoder::delay_samples);
    bench::write_speech_8k(dir / "clean_codec.wav", clean_codec(p.stream), listen_samples);
    BenchCodec tx_codec(false);
    const std::vector<double> signal = app::transmit_speech(p.stream, &tx_codec);

    // Each chain's delay, from the noiseless signal's first 30 s.
    std::array<std::size_t, chain_count> delay{};
    for (std::size_t c = 0; c < chain_count; ++c) {
        BenchCodec codec(chains[c].soft);
        const auto decoded = lead(app::receive_speech(signal, chains[c].enhanced, &codec));
        const std::size_t n = std::min({p.stream.size(), decoded.size(), listen_samples});
        delay[c] = quality::envelope_delay(std::span(p.stream).first(n),
                                           std::span(decoded).first(n), 2 * lead_samples);
        delay[c] = std::max(delay[c], search_samples);
        std::printf("%s: delay %.1f ms\n", chains[c].name,
                    1000.0 * (static_cast<double>(delay[c]) - lead_samples) / rate_hz);
    }

    std::vector<Job> jobs = grid();
    if (!only.empty())
        std::erase_if(jobs,
                      [&](const Job& j) { return only.find(j.point.name()) == std::string::npos; });
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t k; (k = next++) < jobs.size();) run_point(p, signal, delay, dir, jobs[k]);
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (auto& t : pool) t.join();

    print_table(clean, jobs);
    print_targets(clean, jobs);
    if (!write_csv(dir, clean, jobs) || !write_plot(dir, clean, jobs)) {
        std::fprintf(stderr, "over_the_air: cannot write to %s\n", dir.c_str());
        return 1;
    }
    const std::string plot = "cd '" + dir.string() + "' && gnuplot over_the_air.gp 2>/dev/null";
    if (std::system(plot.c_str()) != 0)
        std::printf("\ngnuplot failed: %s/over_the_air.gp not drawn\n", dir.c_str());
    std::printf(
        "\nwrote %s/over_the_air.csv, over_the_air.png and the decoded streams "
        "<point>.<chain>.wav (first 30 s, 8 kHz)\n",
        dir.c_str());
    return 0;
}
