#include "voice/codec_adapter.h"

namespace tarpo::voice {

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
    for (int i = 0; i < codec_samples; ++i)
        interpolator_.interpolate6(out + 6 * i, decoder_output_[static_cast<std::size_t>(i)]);
}

}  // namespace tarpo::voice
