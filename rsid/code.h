// The identifier's code: Reed-Solomon (15, 3) over GF(16), field built on x^4 + x^3 + 1 with
// primitive element alpha = 2. A 12-bit mode number is multiplied by the generator polynomial;
// the 15 coefficients of the product are the tone indices of the burst, lowest power first.
#pragma once

#include <array>
#include <cstdint>

namespace tarpo::rsid {

inline constexpr int code_length = 15;    // symbols (tones) per burst
inline constexpr int message_length = 3;  // 4-bit message symbols in a 12-bit mode number
inline constexpr int tone_count = 16;

using Codeword = std::array<std::uint8_t, code_length>;

namespace gf16 {
inline constexpr unsigned field_polynomial = 0x19;  // x^4 + x^3 + 1

// Product of two field elements (0..15): carry-less multiplication reduced by the field
// polynomial.
constexpr std::uint8_t mul(unsigned a, unsigned b) {
    unsigned r = 0;
    for (int i = 0; i < 4; ++i) {
        if (b & (1u << i)) r ^= a << i;
    }
    for (int bit = 7; bit >= 4; --bit) {
        if (r & (1u << bit)) r ^= field_polynomial << (bit - 4);
    }
    return static_cast<std::uint8_t>(r);
}

// alpha^k for k >= 0, alpha = 2.
constexpr std::uint8_t alpha_pow(int k) {
    std::uint8_t r = 1;
    for (int i = 0; i < k % 15; ++i) r = mul(r, 2);
    return r;
}
}  // namespace gf16

// g(x) = (x + alpha^1)(x + alpha^2)...(x + alpha^12), coefficients lowest power first.
constexpr std::array<std::uint8_t, code_length - message_length + 1> make_generator() {
    std::array<std::uint8_t, code_length - message_length + 1> g{};
    g[0] = 1;
    for (int root = 1; root <= code_length - message_length; ++root) {
        const std::uint8_t a = gf16::alpha_pow(root);
        // Multiply by (x + a): shift up, add a times the old polynomial (addition is XOR).
        for (int i = root; i >= 0; --i) {
            const std::uint8_t shifted = i > 0 ? g[i - 1] : 0;
            g[i] = static_cast<std::uint8_t>(shifted ^ gf16::mul(g[i], a));
        }
    }
    return g;
}

inline constexpr auto generator = make_generator();

// Codeword of a mode number (0..4095; higher bits are ignored): m(x) = m0 + m1 x + m2 x^2 with
// m0 = N >> 8, m1 = (N >> 4) & 15, m2 = N & 15, and c(x) = m(x) g(x).
constexpr Codeword encode_mode(unsigned mode) {
    const std::array<unsigned, message_length> m{(mode >> 8) & 15u, (mode >> 4) & 15u, mode & 15u};
    Codeword c{};
    for (int i = 0; i < message_length; ++i) {
        for (int j = 0; j < static_cast<int>(generator.size()); ++j) {
            c[i + j] = static_cast<std::uint8_t>(c[i + j] ^ gf16::mul(m[i], generator[j]));
        }
    }
    return c;
}

// Largest number of symbols in which the codeword, moved by `shift` symbols in time and by
// `tones` whole tones in frequency, coincides with itself, over all moves except the identity
// (|shift| < 15, |tones| < 16). A detector that slides over time and frequency sees such a
// moved copy at every wrong offset; 15 minus this is the number of symbols in which the copy
// differs from the true alignment.
constexpr int max_self_coincidence(const Codeword& c) {
    int worst = 0;
    for (int shift = -(code_length - 1); shift < code_length; ++shift) {
        for (int tones = -(tone_count - 1); tones < tone_count; ++tones) {
            if (shift == 0 && tones == 0) continue;
            int same = 0;
            for (int i = 0; i < code_length; ++i) {
                const int j = i + shift;
                if (j >= 0 && j < code_length && c[j] == c[i] + tones) ++same;
            }
            if (same > worst) worst = same;
        }
    }
    return worst;
}

// TARPO's own mode number. Its codeword is
//   6 2 11 4 10 0 3 15 13 5 14 9 12 1 7
// chosen because:
// - all 15 tones are different (only tone 8 is unused), so no steady carrier, and no signal
//   that dwells on a few frequencies (our own modem's carriers), can stand in for more than
//   one of its symbols;
// - every copy moved by whole tones and/or whole symbols coincides with it in at most 2
//   symbols, i.e. differs in at least 13 (7 would be enough for a detector that accepts one
//   symbol in error): the burst is found only at its true frequency and its true time, once;
// - neighbouring symbols are at least 2 tones apart, which keeps the leakage of one symbol
//   into the analysis window of the next away from the bins that refine the frequency.
// Of the 4096 mode numbers only four have all three properties; 2599 (0xA27) is one of them.
inline constexpr unsigned tarpo_mode = 2599;
inline constexpr Codeword tarpo_codeword = encode_mode(tarpo_mode);
static_assert(tarpo_codeword == Codeword{6, 2, 11, 4, 10, 0, 3, 15, 13, 5, 14, 9, 12, 1, 7});

}  // namespace tarpo::rsid
