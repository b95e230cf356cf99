// The verbs of tarpo-cli. Each takes the arguments after the program name (argv[0] is the
// verb) and returns the process exit status: 0 success, 1 failure of the work, 2 bad usage or
// bad input.
#pragma once

namespace tarpo::app {

int cli_tx(int argc, char** argv);
int cli_rx(int argc, char** argv);
int cli_channel(int argc, char** argv);
int cli_codec(int argc, char** argv);
int cli_devices(int argc, char** argv);

}  // namespace tarpo::app
