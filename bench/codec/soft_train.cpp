// Trains the soft decoder's priors on real speech: runs the encoder over the training files
// and counts, for every track (energy and voicing by half frames, pitch and each line spectral
// frequency by frames), how often each index followed each other one; writes the counts as a
// C++ header for codec/. Prints each track's index entropy and its entropy given the previous
// index (the redundancy the soft decoder can use), and how much a single bit error moves each
// ordered field as it is coded now, in plain binary, and after a search for a better order.
//
// With --joint JOINT.h it also counts, within each frame, how often each index of one field
// of the soft decoder's joint_tree came with each index of the next (the envelope's split
// codebooks, the voicing and the energy are far from independent) and writes those counts to
// JOINT.h.
//
// Usage: soft_train OUT.h [--joint JOINT.h] LIST.txt|IN.wav ...
//   scripts/speech-corpus && build/bench/codec/soft_train codec/tables/soft_priors.h
//   --joint codec/tables/soft_joint_priors.h out/corpus/train.txt
// (from the source tree's top, as scripts/check-tables runs it)
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "codec/soft_decoder.h"
#include "corpus.h"

using namespace tarpo::codec;

namespace {

struct Counts {
    std::array<std::size_t, track_count> levels{};
    std::array<std::vector<std::uint32_t>, track_count> c;  // [from * levels + to]
};

Counts count(const std::vector<tarpo::bench::AnalysedFrame>& frames) {
    Counts k;
    for (const Field& f : frame_fields) k.levels[track_of(f)] = std::size_t{1} << f.bits;
    for (std::size_t t = 0; t < track_count; ++t) k.c[t].assign(k.levels[t] * k.levels[t], 0);
    std::array<int, track_count> last{};
    last.fill(-1);
    for (const auto& fr : frames) {
        if (fr.first) last.fill(-1);
        for (const Field& f : frame_fields) {  // in order, so halves follow each other
            const std::size_t t = track_of(f);
            const int i = field_index(fr.indices, f);
            if (last[t] >= 0)
                ++k.c[t][static_cast<std::size_t>(last[t]) * k.levels[t] +
                         static_cast<std::size_t>(i)];
            last[t] = i;
        }
    }
    return k;
}

using Joint = std::array<std::vector<std::uint32_t>, joint_tree.size()>;

// Within each frame: counts[first * levels of the second + second] for each pair of
// joint_tree.
Joint count_joint(const std::vector<tarpo::bench::AnalysedFrame>& frames) {
    Joint k;
    for (std::size_t c = 0; c < joint_tree.size(); ++c)
        k[c].assign(field_levels(joint_tree[c].first) * field_levels(joint_tree[c].second), 0);
    for (const auto& fr : frames)
        for (std::size_t c = 0; c < joint_tree.size(); ++c) {
            const auto i = field_index(fr.indices, frame_fields[joint_tree[c].first]);
            const auto j = field_index(fr.indices, frame_fields[joint_tree[c].second]);
            ++k[c][static_cast<std::size_t>(i) * field_levels(joint_tree[c].second) +
                   static_cast<std::size_t>(j)];
        }
    return k;
}

// Entropy (bits) of the second index of a count table c[first * n2 + second], alone and
// given the first.
std::pair<double, double> entropies(const std::vector<std::uint32_t>& c, std::size_t n1,
                                    std::size_t n2) {
    std::vector<double> row(n1, 0.0), col(n2, 0.0);
    double total = 0.0;
    for (std::size_t i = 0; i < n1; ++i)
        for (std::size_t j = 0; j < n2; ++j) {
            row[i] += c[i * n2 + j];
            col[j] += c[i * n2 + j];
            total += c[i * n2 + j];
        }
    double h = 0.0, hc = 0.0;
    for (std::size_t j = 0; j < n2; ++j)
        if (col[j] > 0) h -= col[j] / total * std::log2(col[j] / total);
    for (std::size_t i = 0; i < n1; ++i)
        for (std::size_t j = 0; j < n2; ++j)
            if (c[i * n2 + j] > 0) hc -= c[i * n2 + j] / total * std::log2(c[i * n2 + j] / row[i]);
    return {h, hc};
}

// Entropy of the second field of each pair alone and given the first.
void print_joint_entropies(const Joint& k) {
    for (std::size_t c = 0; c < joint_tree.size(); ++c) {
        const auto [h, hc] =
            entropies(k[c], field_levels(joint_tree[c].first), field_levels(joint_tree[c].second));
        std::printf("joint: field %zu given field %zu of the frame: %.2f -> %.2f bits\n",
                    joint_tree[c].second, joint_tree[c].first, h, hc);
    }
}

// The command that made a header, as its second line.
void write_command(std::FILE* out, int argc, char** argv) {
    std::fprintf(out, "//   scripts/speech-corpus && build/bench/codec/soft_train %s", argv[1]);
    for (int i = 2; i < argc; ++i) std::fprintf(out, " %s", argv[i]);
    std::fprintf(out, "\n");
}

bool write_joint_header(const char* path, const Joint& k, std::size_t frames, int argc,
                        char** argv) {
    std::FILE* out = std::fopen(path, "w");
    if (!out) return false;
    std::fprintf(out, "// Generated by bench/codec/soft_train --joint from %zu frames:\n", frames);
    write_command(out, argc, argv);
    std::fprintf(out,
                 "// How often each index of one field of the soft decoder's joint_tree came with "
                 "each index\n// of its pair in the same frame, counts[first * levels of the "
                 "second + second], pair after\n// pair. Do not edit.\n");
    std::fprintf(
        out,
        "#ifndef TARPO_CODEC_SOFT_JOINT_PRIORS_H\n#define TARPO_CODEC_SOFT_JOINT_PRIORS_H\n\n");
    std::fprintf(
        out,
        "#include <array>\n#include <cstddef>\n#include <cstdint>\n\nnamespace tarpo::codec {\n\n");
    std::fprintf(out, "inline constexpr std::array<std::size_t, %zu> soft_joint_levels = {",
                 2 * joint_tree.size());
    for (std::size_t c = 0; c < joint_tree.size(); ++c)
        std::fprintf(out, "%s%zu, %zu", c ? ", " : "", field_levels(joint_tree[c].first),
                     field_levels(joint_tree[c].second));
    std::size_t total = 0;
    for (const auto& v : k) total += v.size();
    std::fprintf(out, "};\n// clang-format off\n");
    std::fprintf(out, "inline constexpr std::array<std::uint32_t, %zu> soft_joint_counts = {\n",
                 total);
    for (std::size_t c = 0; c < joint_tree.size(); ++c)
        for (std::size_t i = 0; i < k[c].size(); ++i)
            std::fprintf(out, "%u,%s", k[c][i],
                         (i + 1) % field_levels(joint_tree[c].second) == 0 ? "\n" : "");
    std::fprintf(out, "};\n// clang-format on\n\n}  // namespace tarpo::codec\n\n#endif\n");
    std::fclose(out);
    return true;
}

std::string track_name(std::size_t t) {
    const char* names[] = {"energy", "energy10", "voicing", "pitch"};
    if (t < 4) return names[t];
    if (t < 4 + lsf_groups) return "lsf " + std::to_string(t - 4);
    return "lsfmid " + std::to_string(t - 4 - lsf_groups);
}

void print_entropies(const Counts& k) {
    std::printf("%-8s %7s %12s %14s\n", "track", "bits", "entropy", "given previous");
    for (std::size_t t = 0; t < track_count; ++t) {
        const std::size_t n = k.levels[t];
        const auto [h, hc] = entropies(k.c[t], n, n);
        std::string name = track_name(t);
        std::printf("%-8s %7.0f %12.2f %14.2f\n", name.c_str(), std::log2(double(n)), h, hc);
    }
}

// Value of index i of an ordered scalar field: energy in dB (silence two steps below the
// lowest), pitch in semitones.
double field_value(const Field& f, int i) {
    if (f.kind == FieldKind::pitch) return 12.0 * std::log2(pitch_hz(i));
    return i == 0 ? energy_db(1) - 2.0 * (energy_db(2) - energy_db(1)) : energy_db(i);
}

// Mean squared value error of one flipped bit (each bit alike) under an assignment
// code[index] -> codeword, weighted by how often each index is sent.
double flip_cost(const std::vector<double>& value, const std::vector<double>& p,
                 const std::vector<unsigned>& code, int bits) {
    std::vector<std::size_t> index_of(code.size());
    for (std::size_t i = 0; i < code.size(); ++i) index_of[code[i]] = i;
    double cost = 0.0;
    for (std::size_t i = 0; i < code.size(); ++i)
        for (int b = 0; b < bits; ++b) {
            const double d = value[i] - value[index_of[code[i] ^ (1u << b)]];
            cost += p[i] * d * d / bits;
        }
    return cost;
}

// Binary switching: swaps of two codewords while any lowers the cost.
std::vector<unsigned> switch_codes(const std::vector<double>& value, const std::vector<double>& p,
                                   std::vector<unsigned> code, int bits) {
    double best = flip_cost(value, p, code, bits);
    for (bool better = true; better;) {
        better = false;
        for (std::size_t i = 0; i < code.size(); ++i)
            for (std::size_t j = i + 1; j < code.size(); ++j) {
                std::swap(code[i], code[j]);
                const double c = flip_cost(value, p, code, bits);
                if (c < best - 1e-12) {
                    best = c;
                    better = true;
                } else {
                    std::swap(code[i], code[j]);
                }
            }
    }
    return code;
}

// For the ordered scalar fields (energy, pitch): RMS value error of a single bit error as
// coded now, in plain binary, and with the codewords reordered by binary switching (starting
// from the current). The envelope codebooks are numbered by binary switching when trained.
void print_index_assignment(const Counts& k) {
    std::printf("\nsingle bit error, RMS value error (dB, semitones): now, plain, reordered\n");
    for (const Field& f : frame_fields) {
        if (f.kind != FieldKind::energy && f.kind != FieldKind::pitch) continue;
        const std::size_t t = track_of(f), n = std::size_t{1} << f.bits;
        std::vector<double> p(n, 1e-9), value(n);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) p[j] += k.c[t][i * n + j];
        std::vector<unsigned> now(n), plain(n);
        for (std::size_t i = 0; i < n; ++i) {
            value[i] = field_value(f, static_cast<int>(i));
            plain[i] = static_cast<unsigned>(i);
            now[i] = f.gray ? gray_encode(plain[i]) : plain[i];
        }
        const auto reordered = switch_codes(value, p, now, f.bits);
        double total = 0.0;
        for (double v : p) total += v;
        for (double& v : p) v /= total;
        std::printf("%-8s %d %6.2f %6.2f %6.2f\n", f.kind == FieldKind::energy ? "energy" : "pitch",
                    f.slot, std::sqrt(flip_cost(value, p, now, f.bits)),
                    std::sqrt(flip_cost(value, p, plain, f.bits)),
                    std::sqrt(flip_cost(value, p, reordered, f.bits)));
    }
}

void write_header(std::FILE* out, const Counts& k, std::size_t frames, std::size_t files, int argc,
                  char** argv) {
    std::fprintf(out, "// Generated by bench/codec/soft_train from %zu frames of %zu files:\n",
                 frames, files);
    write_command(out, argc, argv);
    std::fprintf(out,
                 "// How often each index followed each other one in the training speech, per "
                 "track (energy,\n// its 10/30 ms offsets, voicing, pitch, each envelope "
                 "codebook): counts[from * levels + to],\n// tracks one after the other. Do not "
                 "edit.\n");
    std::fprintf(out, "#ifndef TARPO_CODEC_SOFT_PRIORS_H\n#define TARPO_CODEC_SOFT_PRIORS_H\n\n");
    std::fprintf(out, "#include <array>\n#include <cstdint>\n\nnamespace tarpo::codec {\n\n");
    std::fprintf(out, "inline constexpr std::array<std::size_t, %zu> soft_prior_levels = {",
                 track_count);
    std::size_t total = 0;
    for (std::size_t t = 0; t < track_count; ++t) {
        std::fprintf(out, "%s%zu", t ? ", " : "", k.levels[t]);
        total += k.c[t].size();
    }
    std::fprintf(out, "};\n// clang-format off\n");
    std::fprintf(out, "inline constexpr std::array<std::uint32_t, %zu> soft_prior_counts = {\n",
                 total);
    for (std::size_t t = 0; t < track_count; ++t)
        for (std::size_t i = 0; i < k.c[t].size(); ++i)
            std::fprintf(out, "%u,%s", k.c[t][i], (i + 1) % k.levels[t] == 0 ? "\n" : "");
    std::fprintf(out, "};\n// clang-format on\n\n}  // namespace tarpo::codec\n\n#endif\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: soft_train OUT.h [--joint JOINT.h] LIST.txt|IN.wav ...\n");
        return 2;
    }
    const char* joint = nullptr;
    int first_input = 2;
    if (std::string(argv[2]) == "--joint" && argc >= 5) {
        joint = argv[3];
        first_input = 4;
    }
    const auto files =
        tarpo::bench::speech_files(std::vector<std::string>(argv + first_input, argv + argc));
    const auto frames = tarpo::bench::analyse_files(files);
    if (frames.size() < 1000) {
        std::fprintf(stderr, "soft_train: too little speech (%zu frames)\n", frames.size());
        return 2;
    }
    const Counts k = count(frames);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::fprintf(stderr, "soft_train: cannot write %s\n", argv[1]);
        return 2;
    }
    write_header(out, k, frames.size(), files.size(), argc, argv);
    std::fclose(out);
    print_entropies(k);
    if (joint) {
        const auto c = count_joint(frames);
        if (!write_joint_header(joint, c, frames.size(), argc, argv)) {
            std::fprintf(stderr, "soft_train: cannot write %s\n", joint);
            return 2;
        }
        print_joint_entropies(c);
    }
    print_index_assignment(k);
    return 0;
}
