// The speech decoder: any sequence of 54-bit frames (seven bytes each, the top two bits of the
// last unused) must give samples no louder than -1 dBFS.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "external/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    syn_init();
    unsigned char bits[56] = {};
    short speech[320];
    for (std::size_t f = 0; f + 7 <= size; f += 7) {
        for (int b = 0; b < 54; ++b) bits[b] = (data[f + b / 8] >> (b % 8)) & 1;
        decode(bits, speech);
        for (short s : speech)
            if (s > 29204 || s < -29204) std::abort();  // -1 dBFS: 32768 * 10^(-1/20)
    }
    return 0;
}
