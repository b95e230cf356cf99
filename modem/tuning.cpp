#include "modem/tuning.h"

#include "modem/constants.h"

namespace tarpo::modem {

namespace {
constexpr double split_tx_step = 0.78539816375;  // 1500 / 12000 x 6.28318531
}

void Tuning::tune(double f) {
    frequency_ = f;
    has_request_ = false;
    derive_steps();
}

void Tuning::request(double f) {
    requested_ = f;
    has_request_ = true;
    retune_ = true;
}

void Tuning::track(double correction) {
    if (has_request_) frequency_ = requested_;
    has_request_ = false;
    frequency_ = frequency_ + correction;
    derive_steps();
}

void Tuning::apply_request() {
    if (!retune_) return;
    if (has_request_) frequency_ = requested_;
    has_request_ = false;
    retune_ = false;
    derive_steps();
}

void Tuning::set_split(bool on) {
    if (on == split_) return;
    split_ = on;
    retune_ = true;
}

double Tuning::txid_frequency() const {
    if (split_) return 1500.0;
    return has_request_ ? requested_ : frequency_;
}

void Tuning::derive_steps() {
    rx_step_ = frequency_ / 12000.0 * two_pi;
    tx_step_ = split_ ? split_tx_step : frequency_ / 12000.0 * two_pi;
}

}  // namespace tarpo::modem
