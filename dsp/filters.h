// dsp/: signal-processing parts every floor shares: filters, conversions, rate converters.
// The ground floor: it includes nothing of the project beyond dsp/ itself.
// Filter taps shared by the modulator, the demodulator and the rate converters, and the
// circular delay line that every filter of the modem keeps.
#pragma once

#include <array>
#include <cstddef>

namespace tarpo::dsp {

namespace detail {
template <std::size_t N, std::size_t H>
constexpr std::array<double, N> mirror(const std::array<double, H>& half) {
    static_assert(H == (N + 1) / 2);
    std::array<double, N> taps{};
    for (std::size_t j = 0; j < H; ++j) {
        taps[j] = half[j];
        taps[N - 1 - j] = half[j];
    }
    return taps;
}
}  // namespace detail

// 30-tap symmetric low-pass. At 12000 Hz it passes up to about 600 Hz and stops from 1800 Hz;
// at 48000 Hz it passes up to about 2.5 kHz and stops from 7.2 kHz. Taps sum to 0.9951814038.
inline constexpr std::array<double, 30> lowpass30 = detail::mirror<30>(std::array<double, 15>{
    0.001488082, 0.003059559, 0.004379748, 0.003751575, -0.0003437641, -0.008216051, -0.01790503,
    -0.0248996, -0.023144, -0.007235937, 0.02491913, 0.07020179, 0.1201813, 0.1632149, 0.188139});

// 35-tap symmetric low-pass of the transmit baseband at 2400 Hz: passes about +-550 Hz
// (gain 0.93 to 1.07), stops from 700 Hz.
inline constexpr std::array<double, 35> tx_lowpass_taps = detail::mirror<35>(std::array<double, 18>{
    -0.003105377, -0.01466923, -0.02063451, -0.004769707, 0.01527357, 0.004663292, -0.01908092,
    -0.005198079, 0.02638279, 0.006064696, -0.03793406, -0.00690218, 0.05800185, 0.007610449,
    -0.1025985, -0.008080537, 0.3171187, 0.5082362});

// A filter's circular line: the newest value is stored at the write index, the index then
// advances, so afterwards it points at the oldest value. Zero at start and never cleared.
template <typename T, std::size_t N>
class DelayLine {
  public:
    void push(const T& v) {
        line_[pos_] = v;
        pos_ = pos_ + 1 == N ? 0 : pos_ + 1;
    }
    // The k-th oldest stored value, k = 0 (oldest) .. N-1 (newest).
    const T& oldest(std::size_t k) const { return line_[(pos_ + k) % N]; }
    std::size_t pos() const { return pos_; }
    const T& at(std::size_t i) const { return line_[i % N]; }

    // Sum over k of the k-th oldest value times taps[first + stride * k], k = 0..N-1.
    template <std::size_t M>
    T dot(const std::array<double, M>& taps, std::size_t first = 0, std::size_t stride = 1) const {
        T sum{};
        for (std::size_t k = 0; k < N; ++k) sum += oldest(k) * taps[first + stride * k];
        return sum;
    }

  private:
    std::array<T, N> line_{};
    std::size_t pos_ = 0;
};

}  // namespace tarpo::dsp
