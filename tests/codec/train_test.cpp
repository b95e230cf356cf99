#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench/codec/lloyd_max.h"

namespace tarpo::bench {
namespace {

TEST(LloydMax, RecoversTheLevelsOfAQuantisedSourceAndMeetsBothOptimalityConditions) {
    // Values scattered closely around eight uneven levels: the trainer must find them again.
    const std::vector<double> truth = {150, 230, 300, 420, 500, 610, 800, 1000};
    std::mt19937_64 rng(11);
    std::normal_distribution<double> jitter(0.0, 6.0);
    std::vector<double> v;
    for (int i = 0; i < 4000; ++i) v.push_back(truth[i % truth.size()] + jitter(rng));
    const auto c = lloyd_max(v, truth.size());
    ASSERT_EQ(c.size(), truth.size());
    for (std::size_t k = 0; k < c.size(); ++k) EXPECT_NEAR(c[k], truth[k], 1.0) << k;

    // On a smooth source: every level is the mean of the values nearest to it.
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> w;
    for (int i = 0; i < 5000; ++i) w.push_back(std::pow(u(rng), 2.0));  // skewed to 0
    const auto d = lloyd_max(w, 4, 300);
    std::vector<double> sum(4, 0.0), n(4, 0.0);
    for (double x : w) {
        std::size_t best = 0;
        for (std::size_t k = 1; k < 4; ++k)
            if (std::abs(x - d[k]) < std::abs(x - d[best])) best = k;
        sum[best] += x;
        n[best] += 1.0;
    }
    for (std::size_t k = 0; k < 4; ++k) {
        if (k > 0) {
            EXPECT_LT(d[k - 1], d[k]);
        }
        EXPECT_NEAR(d[k], sum[k] / n[k], 1e-3) << k;
    }
    EXPECT_LT(d[1] - d[0], d[3] - d[2]);  // denser where the values are
}

}  // namespace
}  // namespace tarpo::bench
