// app/: tarpo-cli, the command-line tool: a table of options and a run per verb, the sound
// files it reads and writes, and the in-memory speech path. The top floor: it may include any
// floor below it (engine/ down to dsp/), never ui/, and links no Qt.
// The verbs of tarpo-cli. Each takes the arguments after the program name (argv[0] is the
// verb) and returns the process exit status: 0 success, 1 failure of the work, 2 bad usage or
// bad input. Each reads its options against its table, runs, and reports.
#pragma once

#include "app/cli_options.h"

namespace tarpo::app {

int cli_tx(int argc, char** argv);
int cli_rx(int argc, char** argv);
int cli_channel(int argc, char** argv);
int cli_codec(int argc, char** argv);
int cli_devices(int argc, char** argv);
int cli_station(int argc, char** argv);

// Their command lines.
extern const VerbSpec tx_verb;
extern const VerbSpec rx_verb;
extern const VerbSpec channel_verb;
extern const VerbSpec codec_verb;
extern const VerbSpec devices_verb;
extern const VerbSpec station_verb;

}  // namespace tarpo::app
