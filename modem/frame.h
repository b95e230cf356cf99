// The modem frame: 54 voice bits and one callsign dibit sent as two symbols on 14 data
// carriers, with the centre (pilot) carrier reversing its phase on the second symbol so that
// the receiver finds frame boundaries. One bit buffer serves both directions.
#pragma once

#include <array>
#include <cstdint>

#include "modem/constants.h"

namespace tarpo::modem {

class FrameBits {
  public:
    void seek(int position) { cursor_ = position; }
    void put1(int value);
    void put2(int value);
    int get2();
    void copy_voice(std::uint8_t* destination);

    // Loads 54 voice bits (bit 0 of bytes 0..53) and the callsign dibit for the next two
    // symbols.
    void load(const std::uint8_t* voice_bits, int callsign_dibit);

    // Phase step in radians of carrier 0..14 for the symbol being modulated; called for
    // carriers 0..14 in order, twice per frame.
    double carrier_phase_step(int carrier);

    // After each received symbol's decisions: the first symbol (pilot decision 0) fills
    // entries 0..27; the second completes the frame, copies the voice bits into
    // rx_voice_bits (bytes 0..53) and returns the callsign dibit. Returns -1 when no frame
    // was completed.
    int assemble(const std::array<int, carriers>& decisions, std::uint8_t* rx_voice_bits);

    int cursor() const { return cursor_; }
    int pilot_step() const { return pilot_step_; }
    int entry(int i) const { return bits_[static_cast<std::size_t>(i) % bits_.size()]; }

  private:
    // The cursor stays inside the buffer whatever the sequence of calls.
    int& slot(int i) { return bits_[static_cast<std::size_t>(i) % bits_.size()]; }

    std::array<int, 100> bits_{};
    int cursor_ = 0;
    int pilot_step_ = 0;  // quarter turns: 0 in the first symbol, 2 in the second
};

}  // namespace tarpo::modem
