#include "voice/codec_adapter.h"

namespace tarpo::voice {

bool SpeechCodec::decode_soft(const float* llr, short* speech) {
    std::array<unsigned char, modem::rx_frame_bits> bits{};
    for (std::size_t i = 0; i < 54; ++i) bits[i] = llr[i] > 0.0f ? 1 : 0;
    decode(bits.data(), speech);
    return false;
}

void CodecAdapter::init() {
    codec_.ana_init();
    codec_.syn_init();
}

void CodecAdapter::encode_block(const std::int16_t* mic, std::uint8_t* bits) {
    for (int i = 0; i < codec_samples; ++i)
        encoder_input_[static_cast<std::size_t>(i)] = decimator_.decimate6(mic + 6 * i);
    codec_.encode(encoder_input_.data(), bits);
}

void CodecAdapter::decode_block(const std::uint8_t* bits, std::int16_t* out) {
    codec_.decode(bits, decoder_output_.data());
    interpolate(out);
}

void CodecAdapter::decode_block_soft(const double* llr, std::int16_t* out, double trust) {
    for (std::size_t i = 0; i < llr_.size(); ++i) llr_[i] = static_cast<float>(trust * llr[i]);
    codec_.decode_soft(llr_.data(), decoder_output_.data());
    interpolate(out);
}

void CodecAdapter::interpolate(std::int16_t* out) {
    for (int i = 0; i < codec_samples; ++i)
        interpolator_.interpolate6(out + 6 * i, decoder_output_[static_cast<std::size_t>(i)]);
}

}  // namespace tarpo::voice
