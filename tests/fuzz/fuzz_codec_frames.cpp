// The speech decoder: any sequence of 54-bit frames (seven bytes each) must give samples no
// louder than -1 dBFS. The top two bits of a frame's last byte choose how it is decoded: hard,
// or soft with the bits as ratios of magnitude 2 or 40, or with every third ratio NaN or
// infinite and the others small.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "external/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    syn_init();
    unsigned char bits[56] = {};
    float llr[54] = {};
    short speech[320];
    for (std::size_t f = 0; f + 7 <= size; f += 7) {
        for (int b = 0; b < 54; ++b) bits[b] = (data[f + b / 8] >> (b % 8)) & 1;
        const int mode = data[f + 6] >> 6;
        if (mode == 0) {
            decode(bits, speech);
        } else {
            for (int b = 0; b < 54; ++b) {
                const float sign = bits[b] ? 1.0f : -1.0f;
                llr[b] = sign * (mode == 1 ? 2.0f : mode == 2 ? 40.0f : 0.5f);
                if (mode == 3 && b % 3 == 0) llr[b] = b % 2 ? NAN : sign * INFINITY;
            }
            decode_soft(llr, speech);
        }
        for (short s : speech)
            if (s > 29204 || s < -29204) std::abort();  // -1 dBFS: 32768 * 10^(-1/20)
    }
    return 0;
}
