// TARPO: digital voice over an SSB voice channel. The engine does the signal processing on its
// worker thread; the user interface drives it from the main window.
#include "engine/engine.h"
#include "ptt/crash_unkey.h"
#include "ptt/ptt_cm108.h"
#include "ptt/serial_lines.h"
#include "ui/program.h"

namespace {

// The PTT lines a signal handler can drop at once: the serial port's and a CM108's GPIO. A rig
// keyed through Hamlib is unkeyed by the orderly shutdown that follows.
void unkey_now() {
    tarpo::ptt::ptt_signal_unkey();
    tarpo::ptt::cm108_signal_unkey();
}

}  // namespace

int main(int argc, char** argv) {
    tarpo::ptt::install_crash_unkey(unkey_now);
    tarpo::engine::Engine engine;
    return tarpo::ui::run_program(argc, argv, engine, unkey_now);
}
