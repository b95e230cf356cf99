// The C entry points of the codec library: one encoder and one decoder for the whole
// program, each a continuous stream from its init call on.
#include <cstdint>
#include <span>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "external/codec.h"

namespace {

tarpo::codec::Encoder& global_encoder() {
    static tarpo::codec::Encoder e;
    return e;
}

tarpo::codec::Decoder& global_decoder() {
    static tarpo::codec::Decoder d;
    return d;
}

}  // namespace

extern "C" {

void ana_init(void) {
    global_encoder() = tarpo::codec::Encoder();
}

void syn_init(void) {
    global_decoder() = tarpo::codec::Decoder();
}

void encode(const short* speech, unsigned char* bits) {
    global_encoder().encode(
        std::span<const std::int16_t, tarpo::codec::frame_samples>(speech,
                                                                   tarpo::codec::frame_samples),
        std::span<std::uint8_t, tarpo::codec::frame_bits>(bits, tarpo::codec::frame_bits));
}

void decode(const unsigned char* bits, short* speech) {
    global_decoder().decode(
        std::span<const std::uint8_t, tarpo::codec::frame_bits>(bits, tarpo::codec::frame_bits),
        std::span<std::int16_t, tarpo::codec::frame_samples>(speech, tarpo::codec::frame_samples));
}

}  // extern "C"
