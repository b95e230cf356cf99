// The C entry points of the codec library: one encoder and one decoder for the whole
// program, each a continuous stream from its init call on.
#include <cstdint>

#include "codec/encoder.h"
#include "codec/soft_decoder.h"
#include "external/codec.h"

namespace {

tarpo::codec::Encoder& global_encoder() {
    static tarpo::codec::Encoder e;
    return e;
}

// Hard and soft frames go to the same decoder stream.
tarpo::codec::SoftDecoder& global_decoder() {
    static tarpo::codec::SoftDecoder d;
    return d;
}

}  // namespace

extern "C" {

void ana_init(void) {
    global_encoder() = tarpo::codec::Encoder();
}

void syn_init(void) {
    global_decoder() = tarpo::codec::SoftDecoder();
}

void encode(const short* speech, unsigned char* bits) {
    global_encoder().encode(speech, bits);
}

void decode(const unsigned char* bits, short* speech) {
    global_decoder().decode(bits, speech);
}

int decode_soft(const float* llr, short* speech) {
    return global_decoder().decode(llr, speech) ? 1 : 0;
}

}  // extern "C"
