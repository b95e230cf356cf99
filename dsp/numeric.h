// Conversions from double that every stage of the modem and the voice path shares.
#pragma once

#include <climits>
#include <complex>
#include <cstdint>

namespace tarpo::dsp {

using ComplexSample = std::complex<double>;

// Truncation toward zero into a 32-bit integer. Out-of-range values saturate; a non-numeric
// value gives INT_MIN, the "integer indefinite" that the hardware conversion produces, so
// callers that mask the result (decisions) behave as the processor would.
constexpr int truncate_to_int(double x) {
    if (!(x == x)) return INT_MIN;
    if (x >= 2147483647.0) return INT_MAX;
    if (x <= -2147483648.0) return INT_MIN;
    return static_cast<int>(x);
}

// Rounding to the nearest integer, halves away from zero. A non-numeric x takes the
// negative branch, as the comparison x >= 0 fails for it.
constexpr int nearest_int(double x) {
    return x >= 0.0 ? truncate_to_int(x + 0.5) : truncate_to_int(x - 0.5);
}

// Conversion to a 16-bit sample: truncation toward zero, saturating at the 16-bit limits
// instead of wrapping (NaN gives 0).
constexpr std::int16_t to_sample16(double x) {
    if (!(x == x)) return 0;
    if (x >= 32767.0) return 32767;
    if (x <= -32768.0) return -32768;
    return static_cast<std::int16_t>(x);
}

}  // namespace tarpo::dsp
