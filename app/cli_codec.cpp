// tarpo-cli codec: speech through the speech codec alone, encoder straight into decoder.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_verbs.h"
#include "app/wav_writer.h"
#include "dsp/numeric.h"
#include "external/codec.h"

namespace tarpo::app {

namespace {

constexpr Synopsis codec_synopses[] = {
    {"IN.wav OUT.wav", "speech through the speech codec alone (8 kHz out)"},
};

}  // namespace

const VerbSpec codec_verb{"codec", codec_synopses, {}};

int cli_codec(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(codec_verb, argc, argv, options)) return *status;
    const std::vector<std::string>& files = options.files;
    if (files.size() != 2) {
        report_problem(codec_verb, "give an input and an output file");
        return 2;
    }
    // Frame by frame (the last one filled with silence), so memory does not grow with the
    // input.
    sound::SoundReader reader;
    std::string error;
    if (!reader.open(files[0], 8000, error)) {
        report_problem(codec_verb, error);
        return 2;
    }
    WavWriter writer;
    ana_init();
    syn_init();
    std::size_t frames = 0;
    std::array<double, 320> speech{};
    short in[320];
    short out[320];
    unsigned char bits[56] = {};
    while (true) {
        const long got = reader.read(speech.data(), static_cast<long>(speech.size()), error);
        if (got < 0) {
            report_problem(codec_verb, error);
            return 2;
        }
        if (got == 0) break;
        // Opened at the first frame: an input refused at its start leaves no output file.
        if (frames == 0 && !writer.open(files[1], 8000, error)) {
            report_problem(codec_verb, error);
            return 1;
        }
        for (std::size_t i = 0; i < 320; ++i)
            in[i] = static_cast<long>(i) < got ? dsp::to_sample16(speech[i]) : 0;
        encode(in, bits);
        for (unsigned char& b : bits) b &= 1;
        decode(bits, out);
        if (!writer.write(out, 320, error)) {
            report_problem(codec_verb, error);
            return 1;
        }
        ++frames;
    }
    if (frames == 0) {
        report_problem(codec_verb, files[0] + ": the file holds no samples");
        return 2;
    }
    if (!writer.finish(error)) {
        report_problem(codec_verb, error);
        return 1;
    }
    std::printf("%zu frames (%.2f s) through the codec, %d bits per frame\n", frames,
                static_cast<double>(frames) * 0.04, 54);
    return 0;
}

}  // namespace tarpo::app
