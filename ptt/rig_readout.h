// What the rig link shows the user interface: the rig's state, dial frequency and mode, and
// the PTT state we want beside the one the rig last confirmed.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarpo::ptt {

struct RigReadout {
    enum class State : std::uint8_t { none, connecting, connected, failed, stopped };
    State state = State::none;    // none: no rig link (the PTT method uses no rig)
    double freq_hz = 0;           // the dial frequency, 0 before the first answer
    std::array<char, 16> mode{};  // Hamlib's name of the mode ("USB"), empty before
    bool keyed = false;           // PTT as the rig last confirmed it
    bool wanted = false;          // PTT as the program wants it
    // The rig confirmed the wanted state; false while a change is on its way, and while the
    // rig does not answer after a command that may have reached it.
    bool confirmed = true;
    std::uint32_t failures = 0;  // reports of a rig not answering, so far
    bool keys = true;            // the link keys the rig; false: it only reads the dial
};

// One rig model of Hamlib's list.
struct RigModel {
    int model = 0;
    std::string maker;
    std::string name;
};

}  // namespace tarpo::ptt
