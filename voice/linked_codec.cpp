#include "external/codec.h"
#include "voice/codec_adapter.h"

namespace tarpo::voice {

void LinkedCodec::ana_init() {
    ::ana_init();
}
void LinkedCodec::syn_init() {
    ::syn_init();
}
void LinkedCodec::encode(const short* speech, unsigned char* bits) {
    ::encode(speech, bits);
}
void LinkedCodec::decode(const unsigned char* bits, short* speech) {
    ::decode(bits, speech);
}
bool LinkedCodec::decode_soft(const float* llr, short* speech) {
    return ::decode_soft(llr, speech) != 0;
}

}  // namespace tarpo::voice
