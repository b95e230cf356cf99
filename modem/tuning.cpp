#include "modem/tuning.h"

#include "modem/constants.h"

namespace tarpo::modem {

namespace {
constexpr double split_tx_step = 0.78539816375;  // 1500 / 12000 x 6.28318531
}

void Tuning::set_tuning(double f) {
    rx_step_ = f / 12000.0 * two_pi8;
    tx_step_ = shared_.split_on.load() ? split_tx_step : f / 12000.0 * two_pi8;
}

double Tuning::txid_frequency() const {
    return shared_.split_on.load() ? 1500.0 : shared_.tuned_freq.load();
}

}  // namespace tarpo::modem
