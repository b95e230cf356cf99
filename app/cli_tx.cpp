// tarpo-cli tx: speech (or test frames) in, modem signal out, through the same block pass as
// the program's transmit loop: encode_block, frame_load, two modulate_symbol.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_args.h"
#include "app/cli_verbs.h"
#include "app/wavfile.h"
#include "dsp/numeric.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "modem/acquisition.h"
#include "modem/station.h"
#include "voice/test_frames.h"

namespace tarpo::app {

namespace {

constexpr const char* tx_usage =
    "usage: tarpo-cli tx [--callsign TEXT] [--freq HZ] [--split] [--alc] [--txid] IN.wav OUT.wav\n"
    "       tarpo-cli tx --test-frames --seconds N [options] OUT.wav\n";

}  // namespace

int cli_tx(int argc, char** argv) {
    bool test_frames = false;
    bool split = false;
    bool alc = false;
    bool txid = false;
    double seconds = -1.0;
    double freq = 1500.0;
    std::string callsign = "NOCALL";
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--test-frames") == 0) {
            test_frames = true;
        } else if (std::strcmp(arg, "--split") == 0) {
            split = true;
        } else if (std::strcmp(arg, "--alc") == 0) {
            alc = true;
        } else if (std::strcmp(arg, "--txid") == 0) {
            txid = true;
        } else if (std::strcmp(arg, "--seconds") == 0) {
            if (!parse_number("tx", arg, next, 0.04, 3600.0, seconds)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--freq") == 0) {
            if (!parse_number("tx", arg, next, 500.0, 3000.0, freq)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--callsign") == 0) {
            if (!parse_text("tx", arg, next, callsign)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--help") == 0) {
            std::fputs(tx_usage, stdout);
            return 0;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "tarpo-cli tx: unknown option '%s'\n", arg);
            return 2;
        } else {
            files.emplace_back(arg);
        }
    }
    const std::size_t wanted = test_frames ? 1 : 2;
    if (files.size() != wanted) {
        std::fprintf(stderr, "tarpo-cli tx: %s\n%s",
                     test_frames ? "give one output file" : "give an input and an output file",
                     tx_usage);
        return 2;
    }
    if (test_frames && seconds < 0) {
        std::fprintf(stderr, "tarpo-cli tx: --test-frames needs --seconds N\n");
        return 2;
    }
    if (!test_frames && seconds >= 0) {
        std::fprintf(stderr, "tarpo-cli tx: --seconds goes with --test-frames\n");
        return 2;
    }
    const std::string& out_path = files.back();

    std::vector<double> speech;
    if (!test_frames) {
        SoundInfo info;
        std::string error;
        if (!read_sound(files[0], 48000, speech, info, error)) {
            std::fprintf(stderr, "tarpo-cli tx: %s\n", error.c_str());
            return 2;
        }
    }

    auto ready =
        engine::make_station(test_frames ? engine::Voice::test_frames : engine::Voice::speech);
    ready->controls.split_on = split ? 1 : 0;
    ready->controls.alc_on = alc ? 1 : 0;
    ready->tune(freq);
    engine::Passes& passes = ready->passes;
    std::array<char, 81> text{};
    std::strncpy(text.data(), callsign.c_str(), text.size() - 1);
    ready->station.callsign().set_text(text.data());

    const std::size_t blocks =
        test_frames ? static_cast<std::size_t>(seconds * 25.0 + 0.5)
                    : (speech.size() + modem::block_samples - 1) / modem::block_samples;
    std::vector<std::int16_t> samples;
    samples.reserve((blocks + 40) * modem::block_samples);
    std::array<std::int16_t, modem::block_samples> block{};
    if (txid) {
        passes.start_txid();
        while (passes.next_txid_block(block.data()))
            samples.insert(samples.end(), block.begin(), block.end());
    }
    for (std::size_t n = 0; n < blocks; ++n) {
        for (std::size_t i = 0; i < block.size(); ++i) {
            const std::size_t at = n * modem::block_samples + i;
            block[i] = at < speech.size() ? to_sample16(speech[at]) : 0;
        }
        const std::int16_t* out = passes.transmit_block(block.data(), false);
        samples.insert(samples.end(), out, out + modem::block_samples);
    }
    std::string error;
    if (!write_wav16(out_path, 48000, samples, error)) {
        std::fprintf(stderr, "tarpo-cli tx: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %zu frames (%.2f s%s) at %.2f Hz, callsign %s\n", blocks,
                static_cast<double>(samples.size()) / 48000.0, txid ? " with RSID" : "",
                split ? 1500.0 : freq, text.data());
    return 0;
}

}  // namespace tarpo::app
