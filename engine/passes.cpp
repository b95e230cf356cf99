#include "engine/passes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dsp/numeric.h"

namespace tarpo::engine {

void Passes::receive_block(const std::int16_t* input, ReceiveSink& sink) {
    const BlockSettings settings = controls_.snapshot();
    take_request();
    station_.tuning().set_split(settings.split);
    station_.decimate_block(input, decimated_.data());
    gather_spectrum(decimated_, settings.rxid, sink);

    if (settings.analog) {
        // The receiver audio goes unchanged to the voice output; the demodulator rests, so
        // the squelch and a pending retune keep their values.
        sink.voice_block(input);
        publish_frame();
        return;
    }
    const auto receiver =
        settings.enhanced_receiver ? modem::Receiver::enhanced : modem::Receiver::differential;
    if (station_.receiver() != receiver) {
        station_.set_receiver(receiver);
        bridged_ = bridge_frames;  // a new receiver starts no reception of its own
    }
    for (int half = 0; half < 2; ++half) {
        if (half == 1) take_request();
        bool frame = false;
        for (int i = 0; i < 240; ++i) {
            const auto event =
                station_.demod_sample(decimated_[static_cast<std::size_t>(240 * half + i)]);
            if (event == modem::RxEvent::none) continue;
            show_symbol(settings.constellation_carrier);
            callsign_rule_.symbol(
                station_.front_end()
                    .symbol_sample()[static_cast<std::size_t>(modem::pilot_carrier)]);
            if (event != modem::RxEvent::frame) continue;
            frame = true;
            callsign_rule_.frame(station_.callsign(), squelch_open_);
            sink.frame_assembled(station_);
        }
        finish_half(frame, settings.squelch_level, sink);
    }
    publish_frame();
}

void Passes::publish_frame() {
    monitor_.display.back() = frame_;
    monitor_.display.publish();
}

void Passes::take_request() {
    const double f = controls_.take_frequency();
    if (!std::isnan(f)) station_.tuning().request(f);
}

void Passes::show_symbol(int constellation_carrier) {
    const auto& front_end = station_.front_end();
    const std::complex<double> p =
        8.0 * front_end.symbol_sample()[static_cast<std::size_t>(constellation_carrier)];
    frame_.constellation_re[constellation_at_] = p.real();
    frame_.constellation_im[constellation_at_] = p.imag();
    constellation_at_ = (constellation_at_ + 1) % constellation_points;
    frame_.timing_marker = front_end.timing_marker();
    const auto& errors = station_.decisions().carrier_error();
    std::copy(errors.begin(), errors.end(), frame_.carrier_error.begin());
}

void Passes::finish_half(bool frame, int squelch_level, ReceiveSink& sink) {
    const double phase_error = station_.phase_error();
    const bool open = static_cast<double>(squelch_level) > phase_error && phase_error >= 0.02;
    monitor_.phase_error.store(phase_error);
    monitor_.squelch_open.store(open ? 1 : 0);
    squelch_open_ = open;
    station_.tuning().apply_request();
    monitor_.tuned_freq.store(station_.tuning().frequency());
    if (open) bridged_ = 0;
    if (!frame) return;
    const bool bridge = station_.receiver() == modem::Receiver::enhanced &&
                        codec_.conceals_noise() && bridged_ < bridge_frames;
    if (open) {
        decode_frame(1.0);
        sink.voice_block(output_.data());
    } else if (bridge) {
        ++bridged_;
        decode_frame(bridge_trust);
        sink.voice_block(output_.data());
    } else {
        sink.voice_withheld();
    }
}

void Passes::decode_frame(double trust) {
    // The enhanced receiver knows how sure it is of every bit; the codec uses that.
    if (station_.receiver() == modem::Receiver::enhanced)
        codec_.decode_block_soft(station_.rx_llr().data(), output_.data(), trust);
    else
        codec_.decode_block(station_.rx_voice_bits().data(), output_.data());
}

void Passes::gather_spectrum(const std::array<double, decimated_samples>& decimated, bool rxid,
                             ReceiveSink& sink) {
    int peak = -32768;
    for (std::size_t i = 0; i < decimated.size(); i += 2) {
        const double v = decimated[i];
        if (fill_count_ < modem::spectrum_length)
            frame_.spectrum_input[static_cast<std::size_t>(fill_count_++)] = v;
        // The peak is the largest signed value, not a magnitude.
        peak = std::max(peak, dsp::truncate_to_int(v));
    }
    monitor_.rx_peak.raise(peak);
    if (fill_count_ < modem::spectrum_length) return;

    spectrum_.compute(frame_.spectrum_input.data(), frame_.spectrum.data());
    fill_count_ = 0;
    ++frame_.spectrum_count;

    if (rxid && rsid_.rsid_check(frame_.spectrum_input.data()) != 0) {
        const double f = rsid_.getrsfreq();
        station_.tuning().tune(f);
        monitor_.tuned_freq.store(f);
        char text[64];
        std::snprintf(text, sizeof text, "RSID %.1f  TARPO", f);
        sink.rsid_detected(f, text);
    }
}

const std::int16_t* Passes::transmit_block(std::int16_t* input, bool read_result) {
    const BlockSettings settings = controls_.snapshot();
    if (read_result)
        for (int i = 0; i < modem::block_samples; ++i) input[i] = 0;
    show_microphone(input);
    if (settings.analog) return input;
    codec_.encode_block(input, tx_voice_bits_.data());
    station_.set_alc(settings.alc);
    station_.transmit_block(tx_voice_bits_.data(), output_.data());
    return output_.data();
}

void Passes::show_microphone(const std::int16_t* block) {
    bridged_ = bridge_frames;  // sending ends what was being received
    int peak = -32768;
    for (int i = 0; i < decimated_samples; ++i) {
        const std::int16_t v = block[4 * i];
        frame_.spectrum_input[static_cast<std::size_t>(i)] = v;
        peak = std::max(peak, static_cast<int>(v));
    }
    monitor_.rx_peak.raise(peak);
    publish_frame();
}

void Passes::start_txid() {
    rsid_.rsid_encode(station_.tuning().txid_frequency());
}

bool Passes::next_txid_block(std::int16_t* block) {
    return rsid_.rsid_get(block) != 0;
}

}  // namespace tarpo::engine
