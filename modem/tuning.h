// The centre frequency of the modem and the oscillator steps derived from it.
#pragma once

#include "modem/shared_state.h"

namespace tarpo::modem {

class Tuning {
  public:
    explicit Tuning(SharedState& shared) : shared_(shared) {}

    // Derives both oscillator steps from f (Hz); does not store f as the tuned frequency.
    // With Split on, the transmitter stays at 1500 Hz.
    void set_tuning(double f);

    // Frequency (Hz) for the transmit identification burst.
    double txid_frequency() const;

    double rx_step() const { return rx_step_; }  // rad per 12000 Hz sample
    double tx_step() const { return tx_step_; }  // rad per 12000 Hz sample

  private:
    SharedState& shared_;
    double rx_step_ = 0.0;
    double tx_step_ = 0.0;
};

}  // namespace tarpo::modem
