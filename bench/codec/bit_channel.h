// A simulated bit channel with soft output, for measuring and testing soft-decision decoding
// without the modem: each bit is sent as +-1 through white Gaussian noise whose level gives
// the wanted bit error rate, and the receiver's log-likelihood ratio is 2 y / sigma^2
// (positive = bit 1), so the ratios have the sign and the magnitude statistics of a calibrated
// receiver on a steady channel. Header-only, so that the tests can use it without the
// benchmarks.
#ifndef TARPO_BENCH_CODEC_BIT_CHANNEL_H
#define TARPO_BENCH_CODEC_BIT_CHANNEL_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>

namespace tarpo::bench {

class BitChannel {
  public:
    // ber: bit error rate of the hard decisions, 0 < ber < 0.5; seed: the noise's.
    BitChannel(double ber, std::uint64_t seed) : sigma_(1.0 / inverse_q(ber)), rng_(seed) {}

    // bits (0 or 1 in bit 0) through the channel: the hard decisions and the ratios.
    void send(std::span<const std::uint8_t> bits, std::span<std::uint8_t> hard,
              std::span<float> llr) {
        for (std::size_t i = 0; i < bits.size(); ++i) {
            const double y = ((bits[i] & 1) ? 1.0 : -1.0) + sigma_ * gauss_(rng_);
            llr[i] = static_cast<float>(2.0 * y / (sigma_ * sigma_));
            hard[i] = y > 0.0 ? 1 : 0;
        }
    }

  private:
    // x with Q(x) = p, Q the Gaussian tail, by bisection.
    static double inverse_q(double p) {
        double lo = 0.0, hi = 40.0;
        for (int i = 0; i < 200; ++i) {
            const double mid = 0.5 * (lo + hi);
            (0.5 * std::erfc(mid / std::sqrt(2.0)) > p ? lo : hi) = mid;
        }
        return 0.5 * (lo + hi);
    }

    double sigma_;
    std::mt19937_64 rng_;
    std::normal_distribution<double> gauss_;
};

}  // namespace tarpo::bench

#endif
