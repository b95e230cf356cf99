// Lloyd-Max design of a scalar quantiser: the levels that minimise the mean squared error
// over training values. Header-only, so that the tests can check it without the benchmarks.
#ifndef TARPO_BENCH_CODEC_LLOYD_MAX_H
#define TARPO_BENCH_CODEC_LLOYD_MAX_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tarpo::bench {

// Rising levels; starts from the quantiles and alternates nearest-level cells and centroids.
inline std::vector<double> lloyd_max(std::vector<double> v, std::size_t levels,
                                     int iterations = 100) {
    std::vector<double> c(levels, 0.0);
    if (v.empty() || levels == 0) return c;
    std::sort(v.begin(), v.end());
    for (std::size_t k = 0; k < levels; ++k) c[k] = v[(2 * k + 1) * v.size() / (2 * levels)];
    for (int it = 0; it < iterations; ++it) {
        std::vector<double> sum(levels, 0.0);
        std::vector<std::size_t> n(levels, 0);
        std::size_t k = 0;
        for (const double x : v) {  // sorted: the cell index only rises
            while (k + 1 < levels && x > 0.5 * (c[k] + c[k + 1])) ++k;
            sum[k] += x;
            ++n[k];
        }
        for (std::size_t j = 0; j < levels; ++j)
            if (n[j] > 0) c[j] = sum[j] / static_cast<double>(n[j]);
    }
    return c;
}

}  // namespace tarpo::bench

#endif
