// A crash must not leave the transmitter keyed. On a fatal signal (a fault, an abort) the PTT
// lines a signal handler can reach are dropped first; one line on standard error says what
// happened, with a backtrace; then the signal goes on as it would have (to a handler that was
// there before, a sanitizer's, or the default action that ends the process). A rig keyed
// through Hamlib cannot be reached from a signal handler: its own time-out must end that.
#pragma once

namespace tarpo::ptt {

// unkey: async-signal-safe (ptt_signal_unkey, cm108_signal_unkey). Main thread, at start.
void install_crash_unkey(void (*unkey)());

}  // namespace tarpo::ptt
