// TARPO: digital voice over an SSB voice channel. The engine does the signal processing on its
// worker thread; the user interface drives it from the main window.
#include "engine/engine.h"
#include "ptt/serial_lines.h"
#include "ui/program.h"

int main(int argc, char** argv) {
    tarpo::engine::Engine engine;
    return tarpo::ui::run_program(argc, argv, engine, tarpo::ptt::ptt_signal_unkey);
}
