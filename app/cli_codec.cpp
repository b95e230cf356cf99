// tarpo-cli codec: speech through the speech codec alone, encoder straight into decoder.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_verbs.h"
#include "app/wavfile.h"
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
    std::vector<double> speech;
    SoundInfo info;
    std::string error;
    if (!read_sound(files[0], 8000, speech, info, error)) {
        report_problem(codec_verb, error);
        return 2;
    }
    ana_init();
    syn_init();
    const std::size_t frames = (speech.size() + 319) / 320;
    std::vector<std::int16_t> out(frames * 320);
    short in[320];
    unsigned char bits[56] = {};
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t i = 0; i < 320; ++i) {
            const std::size_t at = f * 320 + i;
            in[i] = at < speech.size() ? dsp::to_sample16(speech[at]) : 0;
        }
        encode(in, bits);
        for (unsigned char& b : bits) b &= 1;
        decode(bits, out.data() + f * 320);
    }
    if (!write_wav16(files[1], 8000, out, error)) {
        report_problem(codec_verb, error);
        return 1;
    }
    std::printf("%zu frames (%.2f s) through the codec, %d bits per frame\n", frames,
                static_cast<double>(frames) * 0.04, 54);
    return 0;
}

}  // namespace tarpo::app
