// Training material for the codec's quantiser tables: the encoder's analysis of every frame
// of a list of speech files, unquantised and quantised, in order, so that trainers can
// design tables from the values and count how the indices are used and follow each other.
#ifndef TARPO_BENCH_CODEC_CORPUS_H
#define TARPO_BENCH_CODEC_CORPUS_H

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

// Every frame of every file through a fresh encoder; each file is normalised to peaks at
// -3 dBFS and followed by half a second of silence.
std::vector<AnalysedFrame> analyse_files(const std::vector<std::filesystem::path>& files);

}  // namespace tarpo::bench

#endif
