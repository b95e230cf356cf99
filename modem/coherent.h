// A decision-feedback detector for the same differentially encoded carriers: each carrier's
// phase reference is the recent symbols, rotated forward by the steps already decided and
// averaged, instead of the previous symbol alone. With a clean reference the noise of one
// sample instead of two decides a step, which is worth up to 3 dB over the differential
// detector. Every carrier runs references of four lengths side by side (the shortest is the
// plain previous symbol); each symbol is decided with the one whose recent residual was the
// smallest, so a carrier falls back to the differential reference by itself when fading or a
// frequency error make the longer ones stale. A per-carrier rotation, fitted across the
// carriers as a common frequency error plus a slope (a sound-card clock error stretches the
// carrier spacing), turns the references forward between symbols.
//
// Phases here are in the decisions' orientation: a sample (re, im) is the phasor im + j re,
// whose angle advances by d quarter turns when the transmitter sends step d.
#pragma once

#include <array>
#include <complex>

#include "modem/constants.h"

namespace tarpo::modem {

// The soft result of one symbol.
struct SymbolSoft {
    // Decided step per carrier in quarter turns: 0..3 on a data carrier, 0 or 2 on the pilot.
    std::array<int, carriers> step{};
    // Per data carrier, log-likelihood ratios of the step's low bit (entry 2i) and high bit
    // (2i + 1); positive suggests a 1. The pilot's entries stay 0.
    std::array<double, 2 * carriers> llr{};
    // The pilot's log-likelihood ratio of a phase reversal (positive: reversal).
    double pilot_llr = 0.0;
};

class CoherentDetector {
  public:
    static constexpr int references = 4;

    // forgetting: the memory of each reference per symbol, [0, 1); 0 is the differential one.
    explicit CoherentDetector(std::array<double, references> forgetting = {0.0, 0.4, 0.75, 0.93})
        : forgetting_(forgetting) {}

    // Forgets all references (after a retune or a gap in the symbols).
    void reset();

    // Decides one symbol from the 15 interpolated carrier samples. Returns false (and leaves
    // out alone) for the first symbol after a reset, which only starts the references.
    bool detect(const std::array<std::complex<double>, carriers>& sample, SymbolSoft& out);

    // Which reference carrier i used for the last symbol (0: differential).
    int reference_used(int i) const { return chosen_[static_cast<std::size_t>(i)]; }
    // The rotation per symbol, rad, applied to carrier i's references.
    double rotation(int i) const;

  private:
    using Complex = std::complex<double>;
    struct Carrier {
        std::array<Complex, references> sum{};      // decayed sums aligned to the last symbol
        std::array<double, references> weight{};    // the sums' total weights
        std::array<double, references> residual{};  // decayed sum of |sample - prediction|^2
        std::array<double, references> residual_weight{};
        Complex last{};      // the previous sample
        Complex drift{};     // smoothed product of successive samples, step removed
        double doubt = 0.0;  // probability that the last decision was wrong
    };

    void decide(int i, Complex w, SymbolSoft& out);
    void update(int i, Complex w, int step, bool decided);
    void fit_rotation();

    std::array<double, references> forgetting_;
    std::array<Carrier, carriers> carrier_{};
    std::array<int, carriers> chosen_{};
    std::array<Complex, carriers> rotor_{};  // e^{j rotation} per carrier
    int symbols_ = 0;                        // since the last reset
};

}  // namespace tarpo::modem
