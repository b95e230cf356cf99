// The program's command line. The window itself needs none; these serve the desktop entry,
// automated runs and the usual --help and --version. No toolkit types.
#pragma once

#include <string>

namespace tarpo::ui {

struct ProgramOptions {
    bool help = false;     // print usage_text() and exit 0
    bool version = false;  // print version_text() and exit 0
    bool desktop = false;
    bool trace_controls = false;
    bool verbose = false;  // Hamlib's own trace of the rig link on standard error
    std::string transmit;  // a sound file the voice keyer sends right after start
    std::string error;     // one line, for an unknown option or a missing value: exit 2
};

ProgramOptions parse_program_options(int argc, const char* const* argv);
std::string usage_text();
std::string version_text();

}  // namespace tarpo::ui
