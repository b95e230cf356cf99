// Trains the line spectral frequency quantiser tables on real speech: runs the encoder's
// analysis over the training files and designs a Lloyd-Max scalar quantiser for each
// frequency with the frame's bit allocation, then writes the tables as a C++ header for
// codec/. Also prints how the energy, pitch and voicing indices are used (entropy per field),
// the check that the uniform energy and log-pitch quantisers cover the speech.
//
// Usage: lsf_train OUT.h LIST.txt|IN.wav ...
//   scripts/speech-corpus && build/bench/codec/lsf_train codec/tables/lsf_tables.h
//   out/corpus/train.txt
// (from the source tree's top).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/quantiser.h"
#include "corpus.h"
#include "kmeans.h"
#include "lloyd_max.h"

using namespace tarpo::codec;

namespace {

constexpr double speech_db = -45.0;
// The training voices are all female: every envelope is also trained scaled down in
// frequency, as a longer (male) vocal tract would have it.
constexpr std::array<double, 2> voice_scales = {
    1.0, 0.85};  // frames quieter than this are pauses, not trained on

double entropy(const std::vector<std::size_t>& count) {
    double total = 0.0, h = 0.0;
    for (auto c : count) total += c;
    for (auto c : count)
        if (c) h -= c / total * std::log2(c / total);
    return h;
}

void print_usage(const std::vector<tarpo::bench::AnalysedFrame>& frames) {
    std::vector<std::size_t> energy(32), pitch(128), voicing(voicing_levels);
    for (const auto& f : frames) {
        for (int h = 0; h < 2; ++h) {
            ++energy[f.indices.energy[h]];
            ++voicing[f.indices.voiced[h]];
        }
        if (f.indices.voiced[1]) ++pitch[f.indices.pitch];
    }
    std::printf(
        "index entropy, bits: energy %.2f of %d, pitch (voiced) %.2f of %d, voicing %.2f of %d\n",
        entropy(energy), energy_bits, entropy(pitch), pitch_bits, entropy(voicing), voicing_bits);
    std::printf("voicing levels:");
    for (auto v : voicing) std::printf(" %zu", v);
    std::printf("\nenergy at the top level: %zu, at the lowest non-silent: %zu of %zu halves\n",
                energy[31], energy[1], 2 * frames.size());
}

// Frames of every speaker in equal numbers (every k-th frame of the larger ones), so that no
// voice dominates the tables.
std::vector<tarpo::bench::AnalysedFrame> balanced(
    const std::vector<tarpo::bench::AnalysedFrame>& all) {
    std::vector<std::size_t> count;
    for (const auto& f : all) {
        if (static_cast<std::size_t>(f.speaker) >= count.size()) count.resize(f.speaker + 1, 0);
        ++count[static_cast<std::size_t>(f.speaker)];
    }
    const std::size_t fewest = *std::min_element(count.begin(), count.end());
    std::vector<tarpo::bench::AnalysedFrame> out;
    std::vector<double> taken(count.size(), 0.0);
    for (const auto& f : all) {
        const auto s = static_cast<std::size_t>(f.speaker);
        // Keeps the frame order within each file (the middle envelope needs its neighbours).
        const double share = static_cast<double>(fewest) / static_cast<double>(count[s]);
        const bool keep = std::floor(taken[s] + share) > std::floor(taken[s]);
        taken[s] += share;
        out.push_back(f);
        if (!keep) out.back().analysis.energy_db[1] = -INFINITY;  // not trained on
    }
    return out;
}

using Tables = std::array<std::vector<double>, lpc_order>;

// Codebooks of each group of end-of-frame frequencies, Hz; a scalar group's levels rise.
Tables train_end(const std::vector<tarpo::bench::AnalysedFrame>& frames) {
    Tables data;
    for (const auto& f : frames) {
        if (f.analysis.energy_db[1] < speech_db) continue;
        for (const double scale : voice_scales)
            for (std::size_t g = 0; g < lsf_groups; ++g)
                for (std::size_t i = lsf_first[g]; i < lsf_first[g + 1]; ++i)
                    data[g].push_back(scale * f.analysis.lsf[i] * sample_rate / (2.0 * pi));
    }
    Tables t;
    for (std::size_t g = 0; g < lsf_groups; ++g) {
        const std::size_t dims = lsf_first[g + 1] - lsf_first[g];
        t[g] = tarpo::bench::design_codebook(data[g], dims, std::size_t{1} << lsf_bits[g]);
        if (dims == 1) {
            std::sort(t[g].begin(), t[g].end());
        } else {
            auto use = tarpo::bench::entry_usage(data[g], t[g], dims);
            const double before = tarpo::bench::bit_error_cost(t[g], use, dims);
            tarpo::bench::assign_indices(t[g], use, dims);
            std::printf("end group %zu: one-bit error cost %.0f -> %.0f Hz^2 per frame\n", g,
                        before / static_cast<double>(data[g].size() / dims),
                        tarpo::bench::bit_error_cost(t[g], use, dims) /
                            static_cast<double>(data[g].size() / dims));
        }
    }
    return t;
}

// The end-of-frame set as the decoder rebuilds it from the new tables.
Lsf quantised_end(const Lsf& lsf, const Tables& t) {
    Lsf q{};
    for (std::size_t g = 0; g < lsf_groups; ++g) {
        const std::size_t dims = lsf_first[g + 1] - lsf_first[g];
        double best_d = INFINITY;
        for (std::size_t k = 0; k < t[g].size() / dims; ++k) {
            double d = 0.0;
            for (std::size_t j = 0; j < dims; ++j) {
                const double e =
                    t[g][k * dims + j] - lsf[lsf_first[g] + j] * sample_rate / (2.0 * pi);
                d += e * e;
            }
            if (d >= best_d) continue;
            best_d = d;
            for (std::size_t j = 0; j < dims; ++j)
                q[lsf_first[g] + j] = t[g][k * dims + j] * 2.0 * pi / sample_rate;
        }
    }
    repair_lsf(q, lsf_min_gap);
    return q;
}

// Codebooks of the middle set's offsets from the mean of the quantised neighbours, Hz, one
// per group of frequencies.
Tables train_mid(const std::vector<tarpo::bench::AnalysedFrame>& frames, const Tables& end) {
    Tables data;
    Lsf before = flat_lsf();
    for (const auto& f : frames) {
        if (f.first) before = flat_lsf();
        const Lsf after = quantised_end(f.analysis.lsf, end);
        if (f.analysis.energy_db[0] >= speech_db && f.analysis.energy_db[1] >= speech_db)
            for (const double scale : voice_scales)
                for (std::size_t g = 0; g < lsf_mid_groups; ++g)
                    for (std::size_t i = lsf_mid_first[g]; i < lsf_mid_first[g + 1]; ++i)
                        data[g].push_back(
                            scale * (f.analysis.point_lsf[1][i] - 0.5 * (before[i] + after[i])) *
                            sample_rate / (2.0 * pi));
        before = after;
    }
    Tables t;
    for (std::size_t g = 0; g < lsf_mid_groups; ++g) {
        const std::size_t dims = lsf_mid_first[g + 1] - lsf_mid_first[g];
        t[g] = tarpo::bench::design_codebook(data[g], dims, std::size_t{1} << lsf_mid_bits[g]);
        // A steady sound has no offset: the entry nearest to none becomes exactly none.
        std::size_t still = 0;
        double still_d = INFINITY;
        for (std::size_t k = 0; k < t[g].size() / dims; ++k) {
            double d = 0.0;
            for (std::size_t j = 0; j < dims; ++j) d += t[g][k * dims + j] * t[g][k * dims + j];
            if (d < still_d) {
                still_d = d;
                still = k;
            }
        }
        std::fill_n(t[g].begin() + static_cast<std::ptrdiff_t>(still * dims), dims, 0.0);
        auto use = tarpo::bench::entry_usage(data[g], t[g], dims);
        tarpo::bench::assign_indices(t[g], use, dims);
    }
    return t;
}

// Levels of the 10 ms / 30 ms energy offsets from the interpolated RMS, dB.
std::vector<double> train_energy_mid(const std::vector<tarpo::bench::AnalysedFrame>& frames) {
    std::vector<double> data;
    double before = -INFINITY;
    for (const auto& f : frames) {
        if (f.first) before = -INFINITY;
        const std::array<double, 3> sent = {before, energy_db(f.indices.energy[0]),
                                            energy_db(f.indices.energy[1])};
        for (std::size_t h = 0; h < 2; ++h) {
            const double predicted = 20.0 * std::log10(energy_between(sent[h], sent[h + 1], -1));
            const double db = f.analysis.point_db[2 * h];
            const bool kept = !std::isinf(f.analysis.energy_db[1]);  // see balanced()
            if (kept && predicted >= speech_db && db >= speech_db - 10.0)
                data.push_back(db - predicted);
        }
        before = sent[2];
    }
    return tarpo::bench::lloyd_max(data, std::size_t{1} << energy_mid_bits);
}

void write_tables(std::FILE* out, const char* name, const char* spans, const Tables& t,
                  std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::fprintf(out, "inline constexpr std::array<double, %zu> %s_%zu = {", t[i].size(), name,
                     i);
        for (std::size_t k = 0; k < t[i].size(); ++k)
            std::fprintf(out, "%s%.0f", k ? ", " : "", t[i][k]);
        std::fprintf(out, "};\n");
    }
    std::fprintf(out, "inline constexpr std::array<std::span<const double>, %zu> %s = {", count,
                 spans);
    for (std::size_t i = 0; i < count; ++i) std::fprintf(out, "%s%s_%zu", i ? ", " : "", name, i);
    std::fprintf(out, "};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: lsf_train OUT.h LIST.txt|IN.wav ...\n");
        return 2;
    }
    const auto files = tarpo::bench::speech_files(std::vector<std::string>(argv + 2, argv + argc));
    const auto all = tarpo::bench::analyse_files(files);
    const auto frames = balanced(all);
    std::size_t speech = 0;
    for (const auto& f : frames) speech += f.analysis.energy_db[1] >= speech_db;
    if (speech < 1000) {
        std::fprintf(stderr, "lsf_train: too little speech (%zu frames)\n", speech);
        return 2;
    }
    const Tables end = train_end(frames);
    const Tables mid = train_mid(frames, end);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::fprintf(stderr, "lsf_train: cannot write %s\n", argv[1]);
        return 2;
    }
    std::fprintf(
        out,
        "// Generated by bench/codec/lsf_train from %zu speech frames of %zu files, the same\n"
        "// number from each speaker:\n",
        speech, files.size());
    std::fprintf(out, "//   scripts/speech-corpus && build/bench/codec/lsf_train %s", argv[1]);
    for (int i = 2; i < argc; ++i) std::fprintf(out, " %s", argv[i]);
    std::fprintf(
        out,
        "\n// Codebooks, Hz, entry after entry, of the groups of line spectral frequencies at the\n"
        "// frame's end (lsf_codebook) and of their offsets at its middle (lsf_mid_codebook);\n"
        "// trained levels of the 10 ms / 30 ms energy offsets, dB. Do not edit.\n");
    std::fprintf(out, "#ifndef TARPO_CODEC_LSF_TABLES_H\n#define TARPO_CODEC_LSF_TABLES_H\n\n");
    std::fprintf(out,
                 "#include <array>\n#include <span>\n\n#include \"codec/codec_constants.h\"\n\n"
                 "namespace tarpo::codec {\n\n");
    write_tables(out, "lsf_codebook", "lsf_codebooks", end, lsf_groups);
    write_tables(out, "lsf_mid_codebook", "lsf_mid_codebooks", mid, lsf_mid_groups);
    const auto levels = train_energy_mid(frames);
    std::fprintf(out, "inline constexpr std::array<double, %zu> energy_mid_levels = {",
                 levels.size());
    for (std::size_t k = 0; k < levels.size(); ++k)
        std::fprintf(out, "%s%.1f", k ? ", " : "", levels[k]);
    std::fprintf(out, "};\n\n}  // namespace tarpo::codec\n\n#endif\n");
    std::fclose(out);
    print_usage(all);
    return 0;
}
