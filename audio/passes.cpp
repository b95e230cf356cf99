#include "audio/passes.h"

#include <cstdio>

#include "modem/numeric.h"

namespace tarpo::audio {

void Passes::receive_block(const std::int16_t* input, ReceiveSink& sink) {
    station_.decimate_block(input, decimated_.data());
    gather_spectrum(decimated_, sink);

    if (shared_.analog_mode.load()) {
        // The receiver audio goes unchanged to the voice output; the demodulator rests, so
        // the squelch, a pending retune and frame_ready keep their values.
        sink.voice_block(input);
        return;
    }
    const auto receiver =
        shared_.enhanced_receiver.load() ? modem::Receiver::enhanced : modem::Receiver::design;
    if (station_.receiver() != receiver) station_.set_receiver(receiver);
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 240; ++i) {
            const auto event =
                station_.demod_sample(decimated_[static_cast<std::size_t>(240 * half + i)]);
            if (event == modem::RxEvent::frame) sink.frame_assembled(station_);
        }
        const double phase_error = shared_.phase_error.load();
        const double level = static_cast<double>(shared_.sq_level.load());
        shared_.squelch_open.store(level > phase_error && phase_error >= 0.02 ? 1 : 0);
        if (shared_.retune_request.load()) {
            station_.set_tuning(shared_.tuned_freq.load());
            shared_.retune_request.store(0);
        }
        if (shared_.frame_ready.load()) {
            shared_.frame_ready.store(0);
            if (shared_.squelch_open.load() == 1) {
                codec_.codec_decode_block(station_.rx_voice_bits().data(), output_.data());
                sink.voice_block(output_.data());
            } else {
                sink.voice_withheld();
            }
        }
    }
}

void Passes::gather_spectrum(const std::array<double, 480>& decimated, ReceiveSink& sink) {
    for (std::size_t i = 0; i < decimated.size(); i += 2) {
        const double v = decimated[i];
        if (fill_count_ < modem::spectrum_length)
            store_relaxed(shared_.spectrum_input[static_cast<std::size_t>(fill_count_++)], v);
        // The peak is the largest signed value, not a magnitude.
        if (v >= static_cast<double>(shared_.peak_level.load()))
            shared_.peak_level.store(truncate_to_int(v));
    }
    if (fill_count_ < modem::spectrum_length) return;

    for (std::size_t n = 0; n < spectrum_copy_.size(); ++n)
        spectrum_copy_[n] = load_relaxed(shared_.spectrum_input[n]);
    spectrum_.spectrum_compute(spectrum_copy_.data(), spectrum_out_.data());
    for (std::size_t j = 1; j < spectrum_out_.size(); ++j)
        store_relaxed(shared_.spectrum[j], spectrum_out_[j]);
    fill_count_ = 0;
    shared_.spectrum_ready.fetch_add(1);

    if (shared_.rxid_on.load() && rsid_.rsid_check(spectrum_copy_.data()) != 0) {
        const double f = rsid_.getrsfreq();
        shared_.tuned_freq.store(f);
        station_.set_tuning(f);
        char text[64];
        std::snprintf(text, sizeof text, "RSID %.1f  TARPO", f);
        sink.rsid_detected(f, text);
    }
}

const std::int16_t* Passes::transmit_block(std::int16_t* input, bool read_result) {
    if (read_result)
        for (int i = 0; i < modem::block_samples; ++i) input[i] = 0;
    for (int i = 0; i < 480; ++i) {
        const std::int16_t v = input[4 * i];
        store_relaxed(shared_.spectrum_input[static_cast<std::size_t>(i)], v);
        if (v >= shared_.peak_level.load()) shared_.peak_level.store(v);
    }
    if (shared_.analog_mode.load()) return input;
    codec_.codec_encode_block(input, tx_voice_bits_.data());
    station_.transmit_block(tx_voice_bits_.data(), output_.data());
    return output_.data();
}

void Passes::start_txid() {
    rsid_.rsid_encode(station_.tuning().txid_frequency());
}

bool Passes::next_txid_block(std::int16_t* block) {
    return rsid_.rsid_get(block) != 0;
}

}  // namespace tarpo::audio
