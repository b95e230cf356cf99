// tarpo-cli tx: modem signal into a sound file, through the same station objects the
// program's transmit loop drives, one 40 ms block at a time.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_args.h"
#include "app/cli_verbs.h"
#include "app/wavfile.h"
#include "modem/station.h"
#include "modem/test_frames.h"

namespace tarpo::app {

int cli_tx(int argc, char** argv) {
    bool test_frames = false;
    bool split = false;
    bool alc = false;
    double seconds = -1.0;
    double freq = 1500.0;
    std::string callsign = "NOCALL";
    std::string out_path;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--test-frames") == 0) {
            test_frames = true;
        } else if (std::strcmp(arg, "--split") == 0) {
            split = true;
        } else if (std::strcmp(arg, "--alc") == 0) {
            alc = true;
        } else if (std::strcmp(arg, "--seconds") == 0) {
            if (!parse_number("tx", arg, next, 0.04, 3600.0, seconds)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--freq") == 0) {
            if (!parse_number("tx", arg, next, 500.0, 3000.0, freq)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--callsign") == 0) {
            if (!next) {
                std::fprintf(stderr, "tarpo-cli tx: --callsign needs a text\n");
                return 2;
            }
            callsign = next;
            ++i;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "tarpo-cli tx: unknown option '%s'\n", arg);
            return 2;
        } else if (out_path.empty()) {
            out_path = arg;
        } else {
            std::fprintf(stderr, "tarpo-cli tx: too many files ('%s')\n", arg);
            return 2;
        }
    }
    if (!test_frames) {
        std::fprintf(stderr,
                     "tarpo-cli tx: speech input is not available in this build; "
                     "use --test-frames\n");
        return 2;
    }
    if (seconds < 0) {
        std::fprintf(stderr, "tarpo-cli tx: --test-frames needs --seconds N\n");
        return 2;
    }
    if (out_path.empty()) {
        std::fprintf(stderr, "tarpo-cli tx: no output file given\n");
        return 2;
    }

    auto shared = std::make_unique<SharedState>();
    auto station = std::make_unique<modem::Station>(*shared);
    station->modem_init();
    shared->split_on = split ? 1 : 0;
    shared->alc_on = alc ? 1 : 0;
    shared->tuned_freq = freq;
    station->set_tuning(freq);
    std::array<char, 81> text{};
    std::strncpy(text.data(), callsign.c_str(), text.size() - 1);
    station->callsign().callsign_set(text.data());

    const auto blocks = static_cast<std::uint64_t>(seconds * 25.0 + 0.5);
    std::vector<std::int16_t> samples(blocks * modem::block_samples);
    std::array<std::uint8_t, 64> voice_bits{};
    for (std::uint64_t n = 0; n < blocks; ++n) {
        modem::test_frame_bits(n, voice_bits.data());
        station->transmit_block(voice_bits.data(), samples.data() + n * modem::block_samples);
    }
    std::string error;
    if (!write_wav16(out_path, 48000, samples, error)) {
        std::fprintf(stderr, "tarpo-cli tx: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %llu frames (%.2f s) at %.2f Hz, callsign %s\n",
                static_cast<unsigned long long>(blocks), blocks * 0.04, freq, text.data());
    return 0;
}

}  // namespace tarpo::app
