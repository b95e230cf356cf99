// Linear prediction kernels: autocorrelation, Levinson-Durbin, and the conversions between
// prediction coefficients and line spectral pairs. Pure functions on fixed-size arrays.
#pragma once

#include <array>
#include <complex>
#include <cstddef>

#include "codec/codec_constants.h"

namespace tarpo::codec {

// Prediction polynomial A(z) = 1 + a[1] z^-1 + ... + a[10] z^-10; a[0] is always 1.
using Lpc = std::array<double, lpc_order + 1>;
// Line spectral frequencies in radians per sample, strictly rising in (0, pi).
using Lsf = std::array<double, lpc_order>;

// r[k] = sum_n x[n] x[n+k] for k = 0..order.
std::array<double, lpc_order + 1> autocorrelate(const double* x, std::size_t n);

// Levinson-Durbin recursion. Returns the prediction error power (r[0] times the product of
// (1 - k_i^2)); a flat filter (all a[k] = 0) when r[0] is not positive.
double levinson(const std::array<double, lpc_order + 1>& r, Lpc& a);

// The line spectral frequencies of a minimum-phase A(z). Returns false (and leaves lsf as it
// was) when the roots cannot all be found, which only happens for a filter that is not
// minimum phase.
bool lpc_to_lsf(const Lpc& a, Lsf& lsf);

// A(z) from ordered line spectral frequencies. Any ordered set in (0, pi) gives a
// minimum-phase (stable) synthesis filter.
Lpc lsf_to_lpc(const Lsf& lsf);

// The line spectral frequencies of the flat filter A(z) = 1: i * pi / 11.
Lsf flat_lsf();

// A(e^{j w}).
std::complex<double> lpc_response(const Lpc& a, double w);

// Puts the frequencies in order and keeps them at least min_gap apart and inside
// [min_gap, pi - min_gap] (radians), so that any damaged set gives a stable, not too sharp
// filter.
void repair_lsf(Lsf& lsf, double min_gap);

}  // namespace tarpo::codec
