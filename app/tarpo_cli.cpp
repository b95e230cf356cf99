// tarpo-cli: the modem and the voice path on sound files, at full speed.
#include <cstdio>
#include <cstring>

#include "app/cli_verbs.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::fputs(usage_text, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Verb& verb : verbs)
        if (std::strcmp(argv[1], verb.name) == 0) return verb.run(argc - 1, argv + 1);
    std::fprintf(stderr, "tarpo-cli: unknown verb '%s' (try tarpo-cli --help)\n", argv[1]);
    return 2;
}
