// The two-pass detector on hand-made carrier samples: what comes out, how late, and across a
// gap in the symbols.
#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "modem/coherent.h"

namespace tarpo::modem {
namespace {

// Carrier samples of a run of random steps (the pilot reversing every second symbol), noise
// free, with a slow common rotation as a small frequency error leaves it. A sample (re, im)
// advances as the phasor im + j re.
struct SymbolRun {
    std::vector<std::array<std::complex<double>, carriers>> samples;
    std::vector<std::array<int, carriers>> steps;
};

SymbolRun make_run(int symbols) {
    SymbolRun run;
    std::array<double, carriers> phase{};
    unsigned seed = 7;
    for (int n = 0; n < symbols; ++n) {
        std::array<int, carriers> step{};
        std::array<std::complex<double>, carriers> s{};
        for (std::size_t i = 0; i < carriers; ++i) {
            seed = seed * 1103515245u + 12345u;
            step[i] = i == pilot_carrier ? 2 * (n % 2) : static_cast<int>(seed >> 29) & 3;
            phase[i] += step[i] * 1.5707963267948966 + 0.02;
            const std::complex<double> p = std::polar(100.0, phase[i]);
            s[i] = {p.imag(), p.real()};
        }
        run.samples.push_back(s);
        run.steps.push_back(step);
    }
    return run;
}

TEST(LookaheadDetector, DecidesEachStepFourSymbolsLaterAndRestartsAfterAGap) {
    const SymbolRun run = make_run(60);
    LookaheadDetector detector;
    std::vector<LookaheadDetector::Out> outs;
    std::vector<int> pushed_at;
    for (int n = 0; n < 60; ++n) {
        LookaheadDetector::Out out;
        if (detector.push(run.samples[static_cast<std::size_t>(n)], n == 30, out)) {
            outs.push_back(out);
            pushed_at.push_back(n);
        }
    }
    ASSERT_EQ(outs.size(), 56u);  // the last four wait for their look-ahead
    // Every reference, smoothed over both sides, predicted the last symbol decided.
    for (int i = 0; i < carriers; ++i)
        for (double miss : detector.second().miss(i)) EXPECT_LT(miss, 1.0) << i;
    for (std::size_t k = 0; k < outs.size(); ++k) {
        EXPECT_EQ(pushed_at[k], static_cast<int>(k) + LookaheadDetector::lookahead);
        const LookaheadDetector::Out& o = outs[k];
        // Symbol 0 and the one after the gap only start the references.
        EXPECT_EQ(o.decided, k != 0 && k != 30) << k;
        EXPECT_EQ(o.after_gap, k == 30) << k;
        if (!o.decided) continue;
        for (std::size_t i = 0; i < carriers; ++i) {
            EXPECT_EQ(o.soft.step[i], run.steps[k][i]) << k << " " << i;
            if (i == pilot_carrier) continue;
            // The hard bits are the LLRs' signs, and a clean signal leaves them sure.
            EXPECT_EQ(o.soft.llr[2 * i] > 0.0, (run.steps[k][i] & 1) != 0) << k;
            EXPECT_EQ(o.soft.llr[2 * i + 1] > 0.0, (run.steps[k][i] & 2) != 0) << k;
            EXPECT_GT(std::abs(o.soft.llr[2 * i]), 5.0) << k;
        }
    }
}

TEST(LookaheadDetector, FollowsACarrierThroughAFadesNull) {
    // Carrier 3's channel gain moves on a straight line past zero, as a two-path fade's null
    // crosses it: its phase turns half a circle within a few symbols, 45 degrees a symbol at
    // the closest, faster than a long reference follows and a hair inside what a step's
    // decision tolerates, while the other carriers stay steady. In the null the second pass
    // leans on the differential reference, which must carry it through without a wrong step.
    SymbolRun run = make_run(120);
    for (std::size_t n = 0; n < run.samples.size(); ++n) {
        const double t = static_cast<double>(n) - 80.0;
        const std::complex<double> gain = std::complex<double>(0.02, -0.02 * t) * 0.5;
        std::complex<double>& s = run.samples[n][3];
        const std::complex<double> turned = std::complex<double>(s.imag(), s.real()) * gain;
        s = {turned.imag(), turned.real()};
    }
    LookaheadDetector detector;
    int wrong = 0;
    for (std::size_t n = 0; n < run.samples.size(); ++n) {
        LookaheadDetector::Out out;
        if (!detector.push(run.samples[n], false, out) || !out.decided) continue;
        const std::size_t k = n - LookaheadDetector::lookahead;
        for (std::size_t i = 0; i < carriers; ++i) wrong += out.soft.step[i] != run.steps[k][i];
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace tarpo::modem
