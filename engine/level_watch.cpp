#include "engine/level_watch.h"

namespace tarpo::engine {

LevelWatch::Change LevelWatch::set(State state) {
    if (state == state_) return Change::none;
    const bool ended = state == State::fine;
    state_ = state;
    clipped_ = quiet_ = good_ = 0;
    return ended ? Change::ended : Change::started;
}

LevelWatch::Change LevelWatch::feed(int peak, double seconds, bool receiving) {
    if (!receiving) return set(State::fine);
    if (peak < 0 || !(seconds > 0)) return Change::none;
    const bool clipped = peak >= clip_peak;
    const bool quiet = peak < silent_peak;
    clipped_ = clipped ? clipped_ + seconds : 0;
    quiet_ = quiet ? quiet_ + seconds : 0;
    if (clipped_ >= clip_seconds && state_ != State::clipping) return set(State::clipping);
    if (quiet_ >= silent_seconds && state_ != State::silent) return set(State::silent);
    if (state_ == State::fine) return Change::none;
    const bool still = state_ == State::clipping ? clipped : quiet;
    good_ = still ? 0 : good_ + seconds;
    return good_ >= clear_seconds ? set(State::fine) : Change::none;
}

const char* LevelWatch::text(State state) {
    switch (state) {
        case State::clipping:
            return "rx input clips: turn the receiver's audio (or the sound card's input gain) "
                   "down";
        case State::silent:
            return "rx input is silent (peak below -50 dBFS): check the receive audio cable, "
                   "the device chosen and its input gain";
        case State::fine:
            break;
    }
    return "rx input level is fine again";
}

}  // namespace tarpo::engine
