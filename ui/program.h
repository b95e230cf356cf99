// The program around the main window: the desktop start-up directory, the icon, and the run
// from construction to the exit status.
#pragma once

#include <QIcon>
#include <filesystem>

#include "engine/engine_api.h"

namespace tarpo::ui {

// Where the program keeps its settings when started from the desktop menu:
// $XDG_CONFIG_HOME/tarpo when that variable holds an absolute path, else $HOME/.config/tarpo;
// empty when neither is usable (the program then stays where it was started).
std::filesystem::path desktop_directory(const char* xdg_config_home, const char* home);
// Creates `directory` if missing and makes it the working directory; false when either fails.
bool enter_directory(const std::filesystem::path& directory);

// The window icon, drawn like the installed tarpo.svg: fifteen carriers over a dark square.
QIcon program_icon();

// Runs the program on `engine`. Options (the design has no command line; these only serve the
// desktop entry and automated runs):
//   --desktop         first move into the desktop directory; otherwise the current directory
//                     holds the settings;
//   --trace-controls  print each new text of the callsign field as "1115 <text>" and each
//                     change of the squelch indicator as "1126 <0|1>" on standard error.
// SIGINT, SIGTERM and SIGHUP close the main window as its close button does, so that the
// orderly shutdown runs. Shows the main window, runs Start and the event loop, and returns 0. When
// the worker did not confirm its end within Shutdown's second, the process ends at once with status
// 0 (standard output flushed) instead of returning, since the engine cannot be destroyed under a
// running thread.
// unkey_now, when given, runs first thing in the handler of SIGINT, SIGTERM and SIGHUP (it
// must be async-signal-safe): the transmitter drops at once, before the orderly shutdown.
int run_program(int argc, char** argv, engine::EngineApi& engine, void (*unkey_now)() = nullptr);

}  // namespace tarpo::ui
