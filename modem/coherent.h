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
    using Complex = std::complex<double>;

    // What the symbols after the one being decided say about each carrier's reference: their
    // samples turned back to the previous symbol (by the steps a first pass decided and the
    // rotation) and summed with the reference's own weights, and the first pass's misses,
    // weighted as the residuals are. All zero: a plain causal detector.
    struct Ahead {
        std::array<std::array<Complex, references>, carriers> sum{};
        std::array<std::array<double, references>, carriers> weight{};
        std::array<std::array<double, references>, carriers> residual{};
        std::array<std::array<double, references>, carriers> residual_weight{};
    };

    // forgetting: the memory of each reference per symbol, [0, 1); 0 is the differential one.
    explicit CoherentDetector(std::array<double, references> forgetting = {0.0, 0.4, 0.75, 0.93})
        : forgetting_(forgetting) {}

    // Forgets all references (after a retune or a gap in the symbols).
    void reset();

    // Decides one symbol from the 15 interpolated carrier samples. Returns false (and leaves
    // out alone) for the first symbol after a reset, which only starts the references.
    bool detect(const std::array<Complex, carriers>& sample, SymbolSoft& out,
                const Ahead* ahead = nullptr);

    // Which reference carrier i used for the last symbol (0: differential).
    int reference_used(int i) const { return chosen_[static_cast<std::size_t>(i)]; }
    // The rotation per symbol, rad, applied to carrier i's references.
    double rotation(int i) const;
    Complex rotor(int i) const { return rotor_[static_cast<std::size_t>(i)]; }
    // Carrier i's |sample - prediction|^2 per reference at the last symbol decided.
    const std::array<double, references>& miss(int i) const {
        return miss_[static_cast<std::size_t>(i)];
    }
    const std::array<double, references>& forgetting() const { return forgetting_; }

    // A sample in the decisions' orientation: (re, im) as the phasor im + j re.
    static Complex oriented(Complex s) { return {s.imag(), s.real()}; }

  private:
    using Predictions = std::array<Complex, references>;
    struct Carrier {
        std::array<Complex, references> sum{};      // decayed sums aligned to the last symbol
        std::array<double, references> weight{};    // the sums' total weights
        std::array<double, references> residual{};  // decayed sum of |sample - prediction|^2
        std::array<double, references> residual_weight{};
        Complex last{};      // the previous sample
        Complex drift{};     // smoothed product of successive samples, step removed
        double doubt = 0.0;  // probability that the last decision was wrong
        double power = 0.0;  // mean |sample|^2
    };

    void predict(int i, const Ahead* ahead, Predictions& p, std::array<double, references>& r);
    void decide(int i, Complex w, const Predictions& p, const std::array<double, references>& r,
                bool look_ahead, SymbolSoft& out);
    static void mix_in_null(const Carrier& k, Complex w, Complex prediction, const Predictions& p,
                            const std::array<double, references>& r, std::array<double, 4>& ll);
    void update(int i, Complex w, int step, bool decided, const Predictions& p);
    void fit_rotation();

    std::array<double, references> forgetting_;
    std::array<Carrier, carriers> carrier_{};
    std::array<int, carriers> chosen_{};
    std::array<std::array<double, references>, carriers> miss_{};
    std::array<Complex, carriers> rotor_{};  // e^{j rotation} per carrier
    int symbols_ = 0;                        // since the last reset
};

// The same detector with a few symbols of look-ahead: a first, causal pass decides each symbol
// as it comes; a second pass decides it again `lookahead` symbols later with references
// smoothed on both sides: the past by its own decisions, the symbols after by the first pass's
// (turned back to the symbol before, so a single wrong first-pass step that the next one
// undoes does not disturb them). The reference choice looks ahead too, at the first pass's
// misses, so it follows a fade's turn of phase when it happens rather than after it.
class LookaheadDetector {
  public:
    static constexpr int lookahead = 4;

    // One symbol out of the second pass.
    struct Out {
        SymbolSoft soft;
        bool decided = false;    // false: it only started the references
        bool after_gap = false;  // symbols were missing before it
    };

    explicit LookaheadDetector(
        std::array<double, CoherentDetector::references> forgetting = {0.0, 0.4, 0.75, 0.93})
        : first_(forgetting), second_(forgetting) {}

    // Forgets everything, the symbols waiting included.
    void reset();

    // Takes the newest symbol; after_gap: symbols were missing before it, so no step is
    // decided across. Returns true when the symbol `lookahead` back is out in `out`.
    bool push(const std::array<std::complex<double>, carriers>& sample, bool after_gap, Out& out);

    const CoherentDetector& second() const { return second_; }

  private:
    struct Entry {
        std::array<std::complex<double>, carriers> sample{};
        std::array<int, carriers> step{};  // the first pass's
        std::array<double, 2 * carriers> llr{};
        std::array<std::array<double, CoherentDetector::references>, carriers> miss{};
        bool fresh = true;  // the first pass only started its references here
        bool after_gap = false;
    };

    void look_ahead(std::size_t oldest, CoherentDetector::Ahead& ahead) const;
    static void temper(const std::array<double, 2 * carriers>& first,
                       std::array<double, 2 * carriers>& llr);

    CoherentDetector first_;
    CoherentDetector second_;
    std::array<Entry, lookahead + 1> ring_{};
    std::size_t head_ = 0;  // where the next entry goes
    int count_ = 0;
};

}  // namespace tarpo::modem
