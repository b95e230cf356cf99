// Watches the level of the receiver's input through the meter's peak figures and says when it
// clips (samples at or near full scale for a while) or stays too low to be useful (peak below
// -50 dBFS for five seconds while receiving). A plain object fed on the user-interface thread
// with each meter reading; it tells when a warning starts and when it is over.
#pragma once

namespace tarpo::engine {

class LevelWatch {
  public:
    enum class State { fine, clipping, silent };
    enum class Change { none, started, ended };

    static constexpr int clip_peak = 32000;      // of 32767: -0.2 dBFS
    static constexpr int silent_peak = 104;      // -50 dBFS
    static constexpr double clip_seconds = 1.5;  // of clipped readings in a row
    static constexpr double silent_seconds = 5.0;
    static constexpr double clear_seconds = 5.0;  // of good readings before a warning ends

    // One reading: the largest sample since the last one (negative: none came), the time it
    // covers, and whether the receiver was running (a transmission resets the watch).
    Change feed(int peak, double seconds, bool receiving);
    State state() const { return state_; }
    // A line for the status line: the warning, or that the level is fine again.
    static const char* text(State state);

  private:
    Change set(State state);

    State state_ = State::fine;
    double clipped_ = 0;  // seconds of clipped readings in a row
    double quiet_ = 0;    // seconds of readings below silent_peak in a row
    double good_ = 0;     // seconds of readings in between, while a warning stands
};

}  // namespace tarpo::engine
