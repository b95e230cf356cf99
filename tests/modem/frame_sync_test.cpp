// The pilot flywheel on hand-made pilot decisions, and the wrong-carrier check on hand-made
// carrier samples.
#include "modem/frame_sync.h"

#include <gtest/gtest.h>

#include <complex>
#include <vector>

namespace tarpo::modem {
namespace {

// The roles FrameSync gives a run of pilot LLRs (true: the second symbol of a frame).
std::vector<bool> roles(FrameSync& sync, const std::vector<double>& llr) {
    std::vector<bool> r;
    for (double v : llr) r.push_back(sync.symbol(v));
    return r;
}

// A clean pilot: no reversal, reversal, ... with the given confidence; `shift` starts it
// with a reversal.
std::vector<double> pattern(int symbols, double llr, int shift = 0) {
    std::vector<double> p;
    for (int k = 0; k < symbols; ++k) p.push_back((k + shift) % 2 == 1 ? llr : -llr);
    return p;
}

TEST(FrameSync, OneWrongPilotDecisionNeitherSlipsNorDoubles) {
    FrameSync sync;
    std::vector<double> llr = pattern(60, 20.0);
    llr[31] = -20.0;  // a confident wrong decision: no reversal at a second symbol
    llr[40] = 20.0;   // and a reversal at a first one
    const std::vector<bool> r = roles(sync, llr);
    for (int k = 8; k < 60; ++k) EXPECT_EQ(r[static_cast<std::size_t>(k)], k % 2 == 1) << k;
    // Two in a row, weakly, are outvoted too.
    FrameSync weak;
    llr = pattern(60, 3.0);
    llr[30] = 3.0;
    llr[31] = -3.0;
    const std::vector<bool> w = roles(weak, llr);
    for (int k = 8; k < 60; ++k) EXPECT_EQ(w[static_cast<std::size_t>(k)], k % 2 == 1) << k;
}

TEST(FrameSync, MovedPatternWinsWithinFourSymbols) {
    FrameSync sync;
    roles(sync, pattern(40, 20.0));  // settled: symbol 40 would be a first symbol
    // The symbol clock lost a symbol: from here the pattern starts with a reversal.
    const std::vector<bool> r = roles(sync, pattern(20, 20.0, 1));
    for (int k = 4; k < 20; ++k) EXPECT_EQ(r[static_cast<std::size_t>(k)], k % 2 == 0) << k;
    // A skipped symbol reported by the front end keeps the flywheel in step at once.
    FrameSync told;
    roles(told, pattern(40, 20.0));
    told.skip();
    const std::vector<bool> t = roles(told, pattern(20, 20.0, 1));
    for (int k = 0; k < 20; ++k) EXPECT_EQ(t[static_cast<std::size_t>(k)], k % 2 == 0) << k;
}

TEST(CarrierLock, PatternOnANeighbourRetunesTowardsIt) {
    // Carrier `pilot` reverses at every second symbol, the others step at random.
    for (int pilot : {6, 7, 8}) {
        CarrierLock lock;
        std::array<std::complex<double>, carriers> sample{};
        std::array<double, carriers> phase{};
        unsigned seed = 1;
        double retune = 0.0;
        int symbols = 0;
        for (; symbols < 100 && retune == 0.0; ++symbols) {
            for (int i = 0; i < carriers; ++i) {
                seed = seed * 1103515245u + 12345u;
                const int step = i == pilot ? 2 * (symbols % 2) : static_cast<int>(seed >> 29) & 3;
                phase[static_cast<std::size_t>(i)] += step * 1.5707963267948966;
                sample[static_cast<std::size_t>(i)] =
                    std::polar(100.0, phase[static_cast<std::size_t>(i)]);
            }
            retune = lock.symbol(sample);
        }
        EXPECT_EQ(retune, 75.0 * (pilot - 7)) << pilot;
        if (pilot != 7) {
            EXPECT_LE(symbols, 25) << pilot;  // half a second
        }
    }
}

}  // namespace
}  // namespace tarpo::modem
