// Seeded random numbers for the channel simulator. The generator and the Gaussian transform are
// written out here rather than taken from <random>, whose distributions may differ between
// standard libraries: a given seed must give the same channel on every build.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

namespace tarpo::sim {

// xoshiro256** seeded through splitmix64. `stream` separates the independent sequences that one
// user seed drives (noise, fading path 1, fading path 2), so that turning one effect on or off
// does not change the random numbers of another.
class Rng {
  public:
    explicit Rng(std::uint64_t seed, std::uint64_t stream = 0) {
        std::uint64_t s = seed ^ (stream * 0xD1B54A32D192ED03ull);
        for (auto& word : state_) word = splitmix64(s);
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // Uniform in (0, 1): 53 random bits, offset by half a step so that 0 never occurs.
    double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }

    // Standard normal (mean 0, variance 1) by the Box-Muller transform; the second value of each
    // pair is kept for the next call.
    double gaussian() {
        if (has_spare_) {
            has_spare_ = false;
            return spare_;
        }
        const double r = std::sqrt(-2.0 * std::log(uniform()));
        const double phi = 6.283185307179586 * uniform();
        spare_ = r * std::sin(phi);
        has_spare_ = true;
        return r * std::cos(phi);
    }

  private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static std::uint64_t splitmix64(std::uint64_t& s) {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::array<std::uint64_t, 4> state_{};
    double spare_ = 0.0;
    bool has_spare_ = false;
};

}  // namespace tarpo::sim
