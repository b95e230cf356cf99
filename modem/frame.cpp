#include "modem/frame.h"

#include "modem/constants.h"

namespace tarpo::modem {

void FrameBits::bits_put1(int value) {
    slot(cursor_) = value & 1;
    cursor_ = (cursor_ + 1) % static_cast<int>(bits_.size());
}

void FrameBits::bits_put2(int value) {
    bits_put1(value);
    bits_put1(value >> 1);
}

int FrameBits::bits_get2() {
    const int value = slot(cursor_) + 2 * slot(cursor_ + 1);
    cursor_ = (cursor_ + 2) % static_cast<int>(bits_.size());
    return value;
}

void FrameBits::bits_copy_voice(std::uint8_t* destination) {
    for (int i = 0; i < voice_bits_per_frame; ++i)
        destination[i] = static_cast<std::uint8_t>(slot(i));
    cursor_ = voice_bits_per_frame;
}

void FrameBits::frame_load(const std::uint8_t* voice_bits, int callsign_dibit) {
    bits_seek(0);
    for (int i = 0; i < voice_bits_per_frame; ++i) bits_put1(voice_bits[i]);
    bits_put2(callsign_dibit);
    bits_seek(0);
    pilot_step_ = 0;
}

double FrameBits::carrier_phase_step(int carrier) {
    const int value = carrier == pilot_carrier ? pilot_step_ : bits_get2();
    if (carrier >= 14) pilot_step_ += 2;
    return value * 0.25 * two_pi8;
}

int FrameBits::frame_assemble(const std::array<int, 15>& decisions, std::uint8_t* rx_voice_bits) {
    const bool second = decisions[pilot_carrier] != 0;
    bits_seek(second ? 28 : 0);
    for (int i = 0; i < carriers; ++i)
        if (i != pilot_carrier) bits_put2(decisions[static_cast<std::size_t>(i)]);
    if (!second) return -1;
    bits_seek(0);
    bits_copy_voice(rx_voice_bits);
    return bits_get2();
}

}  // namespace tarpo::modem
