// tarpo-cli: the modem and the voice path on sound files, at full speed.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "app/cli_verbs.h"
#include "app/output_file.h"

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
    {&tarpo::app::station_verb, tarpo::app::cli_station},
};

void print_overview(std::FILE* to) {
    const tarpo::app::VerbSpec* specs[std::size(verbs)];
    for (std::size_t i = 0; i < std::size(verbs); ++i) specs[i] = verbs[i].spec;
    tarpo::app::print_overview(specs, to);
}

// Whether the output file is "-": the last argument of a verb that writes sound there (every
// verb but devices, station and rx --test-frames, whose last argument is an input).
bool sound_on_standard_output(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[argc - 1], "-") != 0) return false;
    if (std::strcmp(argv[1], "devices") == 0 || std::strcmp(argv[1], "station") == 0) return false;
    if (std::strcmp(argv[1], "rx") != 0) return true;
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--test-frames") == 0) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        print_overview(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Verb& verb : verbs) {
        if (std::strcmp(argv[1], verb.spec->name) != 0) continue;
        if (sound_on_standard_output(argc, argv)) {
            // Standard output carries the sound: the summary goes to standard error.
            std::fflush(stdout);
            tarpo::app::OutputFile::set_standard_output(::dup(STDOUT_FILENO));
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
        }
        try {
            return verb.run(argc - 1, argv + 1);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "tarpo-cli %s: not enough memory for this input\n",
                         verb.spec->name);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarpo-cli %s: %s\n", verb.spec->name, e.what());
        }
        return 1;
    }
    std::fprintf(stderr, "tarpo-cli: unknown verb '%s' (try tarpo-cli --help)\n", argv[1]);
    return 2;
}
