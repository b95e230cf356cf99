// Training material for the codec's quantiser tables: the encoder's analysis of every frame
// of a list of speech files, unquantised and quantised, in order, so that trainers can
// design tables from the values and count how the indices are used and follow each other.
#ifndef TARPO_BENCH_CODEC_CORPUS_H
#define TARPO_BENCH_CODEC_CORPUS_H

#include <cstdint>
#include <filesystem>
#include <vector>

#include "codec/encoder.h"

namespace tarpo::bench {

struct AnalysedFrame {
    codec::FrameAnalysis analysis;  // unquantised
    codec::FrameIndices indices;    // with the tables compiled in now
    bool first = false;             // the first frame of a file
    int speaker = 0;                // files in folders ending in the same "_name" share one
};

// File names, one a line (as scripts/speech-corpus writes them), or the .wav files given.
std::vector<std::filesystem::path> speech_files(const std::vector<std::string>& args);

// A speech file at 8000 Hz, normalised to peaks at -3 dBFS; empty when it cannot be read.
std::vector<std::int16_t> read_speech_8k(const std::filesystem::path& p);

// Writes at most the first max_samples of x (full scale +-1) as 16-bit 8000 Hz WAV, for
// listening; a file that cannot be made is skipped.
void write_speech_8k(const std::filesystem::path& p, const std::vector<double>& x,
                     std::size_t max_samples = SIZE_MAX);

// Every frame of every file through a fresh encoder; each file is normalised to peaks at
// -3 dBFS and followed by half a second of silence.
std::vector<AnalysedFrame> analyse_files(const std::vector<std::filesystem::path>& files);

}  // namespace tarpo::bench

#endif
