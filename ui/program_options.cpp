#include "ui/program_options.h"

namespace tarpo::ui {

ProgramOptions parse_program_options(int argc, const char* const* argv) {
    ProgramOptions o;
    for (int i = 1; i < argc && o.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--desktop") {
            o.desktop = true;
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else if (arg == "--trace-controls") {
            o.trace_controls = true;
        } else if (arg == "--transmit") {
            if (i + 1 >= argc)
                o.error = "tarpo: --transmit needs a sound file";
            else
                o.transmit = argv[++i];
        } else {
            o.error = "tarpo: unknown option '" + arg + "' (try tarpo --help)";
        }
    }
    return o;
}

std::string usage_text() {
    return "Usage: tarpo [OPTION]...\n"
           "Digital voice over an SSB voice channel. The settings files (sc.txt, cs.txt,\n"
           "txport.bin, loop.txt, operator.txt) and the heard log live in the working directory.\n"
           "\n"
           "  --desktop          keep the settings in $XDG_CONFIG_HOME/tarpo (~/.config/tarpo)\n"
           "  --transmit FILE    send a sound file (WAV, FLAC, OGG) with the voice keyer at start\n"
           "  --trace-controls   print changes of the callsign field, the squelch indicator and\n"
           "                     the ON AIR indicator on standard error\n"
           "  --verbose          print Hamlib's own trace of the rig link on standard error\n"
           "  --help             print this text and exit\n"
           "  --version          print the version and exit\n";
}

std::string version_text() {
    return "TARPO 1.3\n";
}

}  // namespace tarpo::ui
