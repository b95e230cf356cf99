// The tuned (centre, pilot) frequency of the receiver and the oscillator steps derived from
// it. It has one owner, the worker: the frequency tracking nudges it at every symbol, an
// identification burst retunes it at once, and the requests of the user interface (a click, an
// acquisition) wait until the tracking's next step or the next half-block boundary, whichever
// comes first.
#pragma once

namespace tarpo::modem {

class Tuning {
  public:
    // Tunes to f (Hz) at once: the frequency and both oscillator steps; a pending request is
    // dropped.
    void tune(double f);
    // A request for f: taken by the next track() or apply_request().
    void request(double f);
    // The frequency tracking's step: the frequency (or a pending request) plus correction
    // (Hz), and the oscillator steps derived from it.
    void track(double correction);
    // Half-block boundary: a pending request or a Split change takes effect here when the
    // tracking has not taken it already.
    void apply_request();
    // With Split on, the transmitter stays at 1500 Hz; the steps follow at the next
    // track() or apply_request().
    void set_split(bool on);

    double frequency() const { return frequency_; }
    bool split() const { return split_; }
    bool request_pending() const { return retune_; }
    // Frequency (Hz) for the transmit identification burst.
    double txid_frequency() const;

    double rx_step() const { return rx_step_; }  // rad per 12000 Hz sample
    double tx_step() const { return tx_step_; }  // rad per 12000 Hz sample

  private:
    void derive_steps();

    double frequency_ = 1500.0;
    double requested_ = 1500.0;
    bool has_request_ = false;  // requested_ waits for the next track() or apply_request()
    bool retune_ = false;       // the steps wait for the next apply_request()
    bool split_ = false;
    double rx_step_ = 0.0;
    double tx_step_ = 0.0;
};

}  // namespace tarpo::modem
