// A small in-place radix-2 complex FFT of fixed size. Our own so that results are bit-identical
// from run to run and machine to machine (no planner that picks different kernels).
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>

namespace tarpo::codec {

template <std::size_t N>
class Fft {
    static_assert(N >= 2 && (N & (N - 1)) == 0, "FFT size must be a power of two");

  public:
    using Complex = std::complex<double>;

    Fft() {
        for (std::size_t k = 0; k < N / 2; ++k) {
            const double a = -2.0 * 3.14159265358979323846 * static_cast<double>(k) / N;
            twiddle_[k] = Complex(std::cos(a), std::sin(a));
        }
        std::size_t bits = 0;
        while ((std::size_t{1} << bits) < N) ++bits;
        for (std::size_t i = 0; i < N; ++i) {
            std::size_t r = 0;
            for (std::size_t b = 0; b < bits; ++b)
                if (i & (std::size_t{1} << b)) r |= std::size_t{1} << (bits - 1 - b);
            reverse_[i] = r;
        }
    }

    // X[k] = sum_n x[n] e^{-2 pi i k n / N}, unscaled.
    void forward(std::array<Complex, N>& x) const { transform(x, false); }
    // x[n] = (1/N) sum_k X[k] e^{+2 pi i k n / N}.
    void inverse(std::array<Complex, N>& x) const {
        transform(x, true);
        for (auto& v : x) v /= static_cast<double>(N);
    }

  private:
    void transform(std::array<Complex, N>& x, bool inv) const {
        for (std::size_t i = 0; i < N; ++i)
            if (i < reverse_[i]) std::swap(x[i], x[reverse_[i]]);
        for (std::size_t len = 2; len <= N; len <<= 1) {
            const std::size_t half = len / 2;
            const std::size_t step = N / len;
            for (std::size_t start = 0; start < N; start += len) {
                for (std::size_t j = 0; j < half; ++j) {
                    Complex w = twiddle_[j * step];
                    if (inv) w = std::conj(w);
                    const Complex u = x[start + j];
                    const Complex v = x[start + j + half] * w;
                    x[start + j] = u + v;
                    x[start + j + half] = u - v;
                }
            }
        }
    }

    std::array<Complex, N / 2> twiddle_{};
    std::array<std::size_t, N> reverse_{};
};

}  // namespace tarpo::codec
