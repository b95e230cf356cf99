// The program around the main window: the desktop start-up directory, the icon, and the run
// from construction to the exit status.
#pragma once

#include <QIcon>
#include <filesystem>
#include <string>

#include "engine/engine_api.h"

namespace tarpo::ui {

// Where the program keeps its settings when started from the desktop menu:
// $XDG_CONFIG_HOME/tarpo when that variable holds an absolute path, else $HOME/.config/tarpo;
// empty when neither is usable (the program then stays where it was started).
std::filesystem::path desktop_directory(const char* xdg_config_home, const char* home);
// Creates `directory` if missing and makes it the working directory; false when either fails.
bool enter_directory(const std::filesystem::path& directory);

// Why no window can open here, "" when one can (or when Qt is to find out): neither DISPLAY nor
// WAYLAND_DISPLAY set, unless `platform` (QT_QPA_PLATFORM) names only platforms that need no
// display server (offscreen, minimal, ...); or DISPLAY alone set and its X server not
// accepting a connection (its local socket, or TCP for a numeric or local host; a host name is
// not looked up, since that may wait).
std::string display_problem(const char* display, const char* wayland_display, const char* platform);

// The window icon, drawn like the installed tarpo.svg: fifteen carriers over a dark square.
QIcon program_icon();

// Runs the program on `engine`. Options (the window itself needs none; these serve the
// desktop entry, automated runs and the usual --help and --version, see program_options.h):
//   --desktop         first move into the desktop directory; otherwise the current directory
//                     holds the settings;
//   --trace-controls  print each new text of the callsign field as "1115 <text>", each
//                     change of the squelch indicator as "1126 <0|1>" and of the ON AIR
//                     indicator as "onair <0|1> <UTC milliseconds>" on standard error;
//   --transmit FILE   send FILE with the voice keyer once the worker runs.
// --help and --version print and return 0 at once; an unknown option prints one line on
// standard error and returns 2, as does a missing display (display_problem), before Qt is
// started. With --trace-controls, "started" follows Start.
// SIGINT, SIGTERM and SIGHUP close the main window as its close button does, so that the
// orderly shutdown runs. Shows the main window, runs Start and the event loop, and returns 0. When
// the worker did not confirm its end within Shutdown's second, the process ends at once with status
// 0 (standard output flushed) instead of returning, since the engine cannot be destroyed under a
// running thread.
// unkey_now, when given, runs first thing in the handler of SIGINT, SIGTERM and SIGHUP (it
// must be async-signal-safe): the transmitter drops at once, before the orderly shutdown.
int run_program(int argc, char** argv, engine::EngineApi& engine, void (*unkey_now)() = nullptr);

}  // namespace tarpo::ui
