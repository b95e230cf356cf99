// tarpo-cli: the modem and the voice path on sound files, at full speed.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "app/cli_verbs.h"
#include "app/output_file.h"

namespace {

constexpr const char* usage_text =
    "usage: tarpo-cli VERB [options] FILES\n"
    "\n"
    "  tx [--callsign TEXT] [--freq HZ] [--split] [--alc] [--txid] IN.wav OUT.wav\n"
    "      speech in (any rate), modem signal out (48 kHz mono 16-bit)\n"
    "  tx --test-frames --seconds N [--callsign TEXT] [--freq HZ] [--split] [--alc] [--txid]\n"
    "     OUT.wav\n"
    "      N seconds of modem signal carrying the test frames\n"
    "  rx [--freq HZ] [--squelch 0..15] [--acquire] [--rxid] IN.wav OUT.wav\n"
    "      modem signal in, decoded speech out (48 kHz); withheld frames become silence\n"
    "  rx --test-frames [--freq HZ] [--frames FILE] [--acquire] [--rxid] IN.wav\n"
    "      demodulate a modem signal and count the bit errors of the test frames\n"
    "  codec IN.wav OUT.wav\n"
    "      speech through the speech codec alone (8 kHz out)\n"
    "  devices\n"
    "      the sound devices as the program numbers them, and the PTT ports\n"
    "  channel [--snr DB | --ebno DB] [--offset HZ] [--ppm N]\n"
    "          [--fading none|good|moderate|poor] [--seed N] IN.wav OUT.wav\n"
    "      turn a clean signal into what a receiver on an HF path would hear\n";

struct Verb {
    const char* name;
    int (*run)(int, char**);
};

constexpr Verb verbs[] = {
    {"tx", tarpo::app::cli_tx},           {"rx", tarpo::app::cli_rx},
    {"channel", tarpo::app::cli_channel}, {"codec", tarpo::app::cli_codec},
    {"devices", tarpo::app::cli_devices},
};

// Whether the output file is "-": the last argument of a verb that writes sound there (every
// verb but devices and rx --test-frames, whose last argument is an input).
bool sound_on_standard_output(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[argc - 1], "-") != 0) return false;
    if (std::strcmp(argv[1], "devices") == 0) return false;
    if (std::strcmp(argv[1], "rx") != 0) return true;
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--test-frames") == 0) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::fputs(usage_text, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Verb& verb : verbs) {
        if (std::strcmp(argv[1], verb.name) != 0) continue;
        if (sound_on_standard_output(argc, argv)) {
            // Standard output carries the sound: the summary goes to standard error.
            std::fflush(stdout);
            tarpo::app::OutputFile::set_standard_output(::dup(STDOUT_FILENO));
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
        }
        try {
            return verb.run(argc - 1, argv + 1);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "tarpo-cli %s: not enough memory for this input\n", verb.name);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarpo-cli %s: %s\n", verb.name, e.what());
        }
        return 1;
    }
    std::fprintf(stderr, "tarpo-cli: unknown verb '%s' (try tarpo-cli --help)\n", argv[1]);
    return 2;
}
