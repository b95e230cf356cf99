#include "modem/frame.h"

#include "modem/constants.h"

namespace tarpo::modem {

void FrameBits::put1(int value) {
    slot(cursor_) = value & 1;
    cursor_ = (cursor_ + 1) % static_cast<int>(bits_.size());
}

void FrameBits::put2(int value) {
    put1(value);
    put1(value >> 1);
}

int FrameBits::get2() {
    const int value = slot(cursor_) + 2 * slot(cursor_ + 1);
    cursor_ = (cursor_ + 2) % static_cast<int>(bits_.size());
    return value;
}

void FrameBits::copy_voice(std::uint8_t* destination) {
    for (int i = 0; i < voice_bits_per_frame; ++i)
        destination[i] = static_cast<std::uint8_t>(slot(i));
    cursor_ = voice_bits_per_frame;
}

void FrameBits::load(const std::uint8_t* voice_bits, int callsign_dibit) {
    seek(0);
    for (int i = 0; i < voice_bits_per_frame; ++i) put1(voice_bits[i]);
    put2(callsign_dibit);
    seek(0);
    pilot_step_ = 0;
}

double FrameBits::carrier_phase_step(int carrier) {
    const int value = carrier == pilot_carrier ? pilot_step_ : get2();
    if (carrier >= 14) pilot_step_ += 2;
    return value * 0.25 * two_pi;
}

int FrameBits::assemble(const std::array<int, carriers>& decisions, std::uint8_t* rx_voice_bits) {
    const bool second = decisions[pilot_carrier] != 0;
    seek(second ? 28 : 0);
    for (int i = 0; i < carriers; ++i)
        if (i != pilot_carrier) put2(decisions[static_cast<std::size_t>(i)]);
    if (!second) return -1;
    seek(0);
    copy_voice(rx_voice_bits);
    return get2();
}

}  // namespace tarpo::modem
