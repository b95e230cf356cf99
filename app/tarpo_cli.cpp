// tarpo-cli: the modem and the voice path on sound files, at full speed.
#include <cstdio>
#include <cstring>

#include "app/cli_verbs.h"

namespace {

struct Verb {
    const tarpo::app::VerbSpec* spec;
    int (*run)(int, char**);
};

const Verb verbs[] = {
    {&tarpo::app::tx_verb, tarpo::app::cli_tx},
    {&tarpo::app::rx_verb, tarpo::app::cli_rx},
    {&tarpo::app::channel_verb, tarpo::app::cli_channel},
    {&tarpo::app::codec_verb, tarpo::app::cli_codec},
    {&tarpo::app::devices_verb, tarpo::app::cli_devices},
};

void print_overview(std::FILE* to) {
    const tarpo::app::VerbSpec* specs[std::size(verbs)];
    for (std::size_t i = 0; i < std::size(verbs); ++i) specs[i] = verbs[i].spec;
    tarpo::app::print_overview(specs, to);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        print_overview(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Verb& verb : verbs)
        if (std::strcmp(argv[1], verb.spec->name) == 0) return verb.run(argc - 1, argv + 1);
    std::fprintf(stderr, "tarpo-cli: unknown verb '%s' (try tarpo-cli --help)\n", argv[1]);
    return 2;
}
