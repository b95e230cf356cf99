#include "external/codec.h"
#include "voice/codec_adapter.h"

namespace tarpo::voice {

CodecApi linked_codec() {
    return CodecApi{::ana_init, ::syn_init, ::encode, ::decode};
}

}  // namespace tarpo::voice
