#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "bench/codec/kmeans.h"
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

TEST(VectorCodebook, FindsClustersAndIndexAssignmentOnlyRenumbersAndLowersTheErrorCost) {
    // Sixteen tight clusters in three dimensions: the designed codebook finds every centre.
    std::mt19937_64 rng(5);
    std::normal_distribution<double> jitter(0.0, 2.0);
    std::vector<std::array<double, 3>> centres;
    for (int k = 0; k < 16; ++k)
        centres.push_back({100.0 * (k % 4), 100.0 * (k / 4), 50.0 * ((k * 7) % 5)});
    std::vector<double> data;
    for (int i = 0; i < 8000; ++i)
        for (const double c : centres[static_cast<std::size_t>(i) % centres.size()])
            data.push_back(c + jitter(rng));
    auto book = design_codebook(data, 3, 16);
    ASSERT_EQ(book.size(), 48u);
    for (const auto& c : centres) {
        double nearest = 1e9;
        for (std::size_t k = 0; k < 16; ++k)
            nearest = std::min(nearest, std::hypot(book[3 * k] - c[0], book[3 * k + 1] - c[1],
                                                   book[3 * k + 2] - c[2]));
        EXPECT_LT(nearest, 1.0);
    }
    auto use = entry_usage(data, book, 3);
    const double before = bit_error_cost(book, use, 3);
    auto sorted = [](std::vector<double> b) {
        std::vector<std::array<double, 3>> v;
        for (std::size_t k = 0; k < b.size(); k += 3) v.push_back({b[k], b[k + 1], b[k + 2]});
        std::sort(v.begin(), v.end());
        return v;
    };
    const auto entries = sorted(book);
    assign_indices(book, use, 3);
    EXPECT_EQ(sorted(book), entries);
    EXPECT_LT(bit_error_cost(book, use, 3), before);
    EXPECT_EQ(entry_usage(data, book, 3), use);  // usage moved with its entry
}

}  // namespace
}  // namespace tarpo::bench
