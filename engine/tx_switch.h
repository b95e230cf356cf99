// The transmit switch: the one owner of the requests to transmit. TX pressed (the button or
// F12), Escape, the voice keyer and Tune all ask it; it keeps the four-tick tail, the transmit
// time-out and the callsign rule, starts and stops the voice keyer, and writes the phase into
// the engine's controls (rx_active, tx_active, tune, the display mode) as the display ticks.
// It lives on the user-interface thread and is stepped once per display tick (150 ms); the
// widgets only show its state and pass on what the operator asks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/engine_api.h"

namespace tarpo::engine {

// What the transmit switch may be set to, from transmit.txt.
struct TransmitSettings {
    int timeout_s = 180;  // the longest transmission, 1..86400 s; 0: no time-out
    int drive_db = 0;     // transmit drive, -30..0 dB below full scale
};

// Reads "timeout <seconds|off>" and "drive <dB>" lines; other lines and values out of range are
// skipped, each with one note in `notes`. Returns what was read over the defaults.
TransmitSettings read_transmit_settings(const std::string& text, std::vector<std::string>* notes);
std::string format_transmit_settings(const TransmitSettings& s);

class TxSwitch {
  public:
    static constexpr int tail_ticks = 4;         // TX pressed again: about 0.6 s more on air
    static constexpr int tick_ms = 150;          // the display tick
    static constexpr int tune_limit_ticks = 66;  // Tune sends for at most 10 s (9.9 s)

    // callsign: the operator's callsign as it stands now (asked at each request to transmit).
    TxSwitch(EngineApi& engine, std::function<std::string()> callsign);

    // The longest transmission in seconds, 0 for none.
    void set_timeout_s(int seconds) {
        timeout_s_ = seconds;
        timeout_ticks_ = (seconds * 1000 + tick_ms - 1) / tick_ms;
    }

    // TX pressed (the button, F12): receiving starts a transmission, transmitting ends it after
    // the tail; refused while a tail runs, and without a callsign. The operator's press ends a
    // file the voice keyer is sending.
    void press();
    // Escape: ends a transmission or a tune that is on and not already ending.
    void escape();
    // Tune pressed: keys with the steady test signal for up to 10 s, or ends it (a transmission
    // of speech or a file is left alone: TX or Escape ends that). It sends no
    // callsign, no identification burst and no speech, so it is allowed without a callsign:
    // setting the rig's drive is part of setting up a station.
    void tune();
    // Sends a sound file with the voice keyer, keying at once; false with a reason when it
    // cannot (no callsign, a transmission under way or ending, the keyer refused the file).
    bool start_file(const std::string& path, std::string& error);

    // Once per display tick: the tail, the voice keyer and the time-outs.
    void step();

    // A transmission is on and not ending (the TX button's pressed look); a tune is on.
    bool transmitting() const;
    bool tuning() const;
    // Ticks left of the tail, 0 on the tick that switched back, -1 when no tail runs.
    int countdown() const { return countdown_; }
    // What the status line should say about the last request (a refusal, a time-out), once.
    std::string take_message();
    // Why the file being sent stopped before its end, once (see VoiceKeyer::take_error).
    std::string take_keyer_failure();

  private:
    bool callsign_set() const;
    void key(bool tune);
    void begin_end();
    void end_transmission();
    void keyer_step();
    void say(std::string text);

    EngineApi& engine_;
    std::function<std::string()> callsign_;
    int timeout_s_ = 0;
    int timeout_ticks_ = 0;  // 0: no time-out
    int countdown_ = -1;
    int keyed_ticks_ = 0;         // ticks since this transmission was keyed
    int saved_display_mode_ = 1;  // display_mode when the transmission started
    std::string message_;
    std::string keyer_failure_;
};

}  // namespace tarpo::engine
