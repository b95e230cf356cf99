#include "modem/station.h"

#include <algorithm>
#include <cmath>

namespace tarpo::modem {

Station::Station() : tables_(build_modem_tables()), modulator_(tables_), front_end_(tables_) {
    tuning_.tune(1500.0);
}

void Station::frame_load(const std::uint8_t* voice_bits) {
    frame_.load(voice_bits, callsign_.next_dibit());
}

void Station::modulate_symbol(std::int16_t* out) {
    std::array<double, carriers> steps{};
    for (int i = 0; i < carriers; ++i)
        steps[static_cast<std::size_t>(i)] = frame_.carrier_phase_step(i);
    modulator_.modulate_symbol(out, steps, tuning_.tx_step(), alc_);
}

void Station::transmit_block(const std::uint8_t* voice_bits, std::int16_t* block) {
    frame_load(voice_bits);
    modulate_symbol(block);
    modulate_symbol(block + samples_per_symbol_48k);
}

RxEvent Station::demod_sample(double x) {
    ++samples_since_symbol_;
    if (!front_end_.demod_sample(x, tuning_.rx_step())) return RxEvent::none;
    const double correction = decisions_.decide_symbol(front_end_.symbol_sample());
    if (correction == correction) tuning_.track(correction);
    const int gap = samples_since_symbol_;
    samples_since_symbol_ = 0;
    const int dibit = receiver_ == Receiver::differential
                          ? frame_.assemble(decisions_.decisions(), rx_voice_bits_.data())
                          : enhanced_symbol(gap);
    if (dibit < 0) return RxEvent::symbol;
    last_callsign_dibit_ = dibit;
    callsign_.receive_dibit(dibit);
    return RxEvent::frame;
}

void Station::set_receiver(Receiver receiver) {
    receiver_ = receiver;
    enhanced_.reset();
    rx_llr_ = {};
}

int Station::enhanced_symbol(int gap) {
    // A retune (click, acquisition, identification burst) moves every carrier's phase: the
    // references start afresh. The tracking moves the step by far less than 1 Hz a symbol.
    const double step = tuning_.rx_step();
    if (std::abs(step - last_rx_step_) > 1.0 / 12000.0 * two_pi) enhanced_.reset();
    last_rx_step_ = step;
    const bool frame = enhanced_.symbol(front_end_.symbol_sample(), gap);
    // A lock one carrier off: at once, as a retune on an identification burst.
    if (enhanced_.retune_hz() != 0.0) tuning_.tune(tuning_.frequency() + enhanced_.retune_hz());
    if (!frame) return -1;
    const auto& bits = enhanced_.bits();
    std::copy(bits.begin(), bits.begin() + voice_bits_per_frame, rx_voice_bits_.begin());
    rx_llr_ = enhanced_.llr();
    return enhanced_.callsign_dibit();
}

void Station::decimate_block(const std::int16_t* block, double* decimated) {
    decimator_.decimate(block, decimated, block_samples / 4);
}

}  // namespace tarpo::modem
