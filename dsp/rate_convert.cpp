#include "dsp/rate_convert.h"

#include "dsp/numeric.h"

namespace tarpo::dsp {

double Decimator4::decimate4(const std::int16_t* four) {
    for (int i = 0; i < 4; ++i) line_.push(four[i]);
    return line_.dot(lowpass30);
}

std::int16_t Decimator6::decimate6(const std::int16_t* six) {
    for (int i = 0; i < 6; ++i) line_.push(six[i]);
    return to_sample16(line_.dot(lowpass30));
}

void Interpolator6::interpolate6(std::int16_t* out, std::int16_t x) {
    // 1 / (sum of taps 5, 11, 17, 23, 29): phases 0 and 5 get a gain of exactly 1 at DC.
    constexpr double gain = 6.0331791914;
    line_.push(x);
    for (int r = 0; r < 6; ++r)
        out[r] = to_sample16(line_.dot(lowpass30, static_cast<std::size_t>(5 - r), 6) * gain);
}

}  // namespace tarpo::dsp
