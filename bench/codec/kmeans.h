// Vector quantiser design (generalised Lloyd): codebooks grown by splitting every entry in
// two and refining with nearest-entry cells and centroids, until the wanted size. Header-only,
// so that the tests can check it without the benchmarks.
#ifndef TARPO_BENCH_CODEC_KMEANS_H
#define TARPO_BENCH_CODEC_KMEANS_H

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

namespace tarpo::bench {

namespace detail {

// Nearest-entry cells and centroids, repeated; returns the total squared error.
inline double refine(const std::vector<double>& data, std::size_t dims, std::vector<double>& book,
                     int iterations, std::vector<std::size_t>& cell, std::vector<double>& err) {
    const std::size_t n = data.size() / dims, size = book.size() / dims;
    auto nearest = [&](std::size_t v) {
        std::size_t best = 0;
        double best_d = std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < size; ++k) {
            double s = 0.0;
            for (std::size_t d = 0; d < dims; ++d) {
                const double e = data[v * dims + d] - book[k * dims + d];
                s += e * e;
            }
            if (s < best_d) {
                best_d = s;
                best = k;
            }
        }
        err[v] = best_d;
        return best;
    };
    double total = 0.0;
    for (int it = 0; it <= iterations; ++it) {
        std::vector<double> sum(size * dims, 0.0);
        std::vector<std::size_t> count(size, 0);
        total = 0.0;
        for (std::size_t v = 0; v < n; ++v) {
            cell[v] = nearest(v);
            total += err[v];
            ++count[cell[v]];
            for (std::size_t d = 0; d < dims; ++d) sum[cell[v] * dims + d] += data[v * dims + d];
        }
        if (it == iterations) break;  // the last pass only measures
        for (std::size_t k = 0; k < size; ++k) {
            if (count[k] == 0) {  // an empty cell takes the worst-coded vector
                const auto worst = static_cast<std::size_t>(
                    std::max_element(err.begin(), err.end()) - err.begin());
                err[worst] = 0.0;
                for (std::size_t d = 0; d < dims; ++d) book[k * dims + d] = data[worst * dims + d];
                continue;
            }
            for (std::size_t d = 0; d < dims; ++d)
                book[k * dims + d] = sum[k * dims + d] / static_cast<double>(count[k]);
        }
    }
    return total;
}

}  // namespace detail

// data: vectors of dims values, one after another. Returns entries * dims values; entries is
// a power of two. Deterministic. Splitting alone can leave two entries in one cluster and none
// in another, so after each split the entry whose cell costs least is tried in the cell that
// costs most (kept when the total error falls).
inline std::vector<double> design_codebook(const std::vector<double>& data, std::size_t dims,
                                           std::size_t entries, int iterations = 12,
                                           int moves = 8) {
    const std::size_t n = dims ? data.size() / dims : 0;
    std::vector<double> book(dims, 0.0);
    if (n == 0) return std::vector<double>(entries * dims, 0.0);
    for (std::size_t v = 0; v < n; ++v)
        for (std::size_t d = 0; d < dims; ++d)
            book[d] += data[v * dims + d] / static_cast<double>(n);
    std::vector<std::size_t> cell(n);
    std::vector<double> err(n);
    for (std::size_t size = 1; size < entries;) {
        // Split: each entry and a copy nudged by a small fixed amount.
        book.resize(2 * size * dims);
        for (std::size_t k = 0; k < size; ++k)
            for (std::size_t d = 0; d < dims; ++d) {
                const double c = book[k * dims + d];
                const double nudge = 1e-3 * (1.0 + std::abs(c)) * ((d % 2) ? 1.0 : -1.0);
                book[(size + k) * dims + d] = c + nudge;
                book[k * dims + d] = c - nudge;
            }
        size *= 2;
        double total = detail::refine(data, dims, book, iterations, cell, err);
        for (int m = 0; m < moves; ++m) {
            std::vector<double> cost(size, 0.0);
            std::vector<std::size_t> far(size, 0);  // each cell's worst-coded vector
            for (std::size_t v = 0; v < n; ++v) {
                cost[cell[v]] += err[v];
                if (err[v] >= err[far[cell[v]]] || cell[far[cell[v]]] != cell[v]) far[cell[v]] = v;
            }
            const auto idle =
                static_cast<std::size_t>(std::min_element(cost.begin(), cost.end()) - cost.begin());
            const auto busy =
                static_cast<std::size_t>(std::max_element(cost.begin(), cost.end()) - cost.begin());
            if (idle == busy) break;
            std::vector<double> trial = book;
            for (std::size_t d = 0; d < dims; ++d)  // halfway to the busy cell's worst vector
                trial[idle * dims + d] = 0.5 * (book[busy * dims + d] + data[far[busy] * dims + d]);
            auto trial_cell = cell;
            auto trial_err = err;
            const double t =
                detail::refine(data, dims, trial, iterations / 3 + 1, trial_cell, trial_err);
            if (!(t < total)) break;
            total = t;
            book.swap(trial);
            cell.swap(trial_cell);
            err.swap(trial_err);
        }
    }
    book.resize(entries * dims);
    return book;
}

// How often each entry is the nearest to a training vector.
inline std::vector<double> entry_usage(const std::vector<double>& data,
                                       const std::vector<double>& book, std::size_t dims) {
    const std::size_t entries = book.size() / dims;
    std::vector<double> use(entries, 0.0);
    for (std::size_t v = 0; v + dims <= data.size(); v += dims) {
        std::size_t best = 0;
        double best_d = std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < entries; ++k) {
            double s = 0.0;
            for (std::size_t d = 0; d < dims; ++d) {
                const double e = data[v + d] - book[k * dims + d];
                s += e * e;
            }
            if (s < best_d) {
                best_d = s;
                best = k;
            }
        }
        use[best] += 1.0;
    }
    return use;
}

// Expected squared error that single bit errors in an entry's index cause, summed over the
// entries weighted by use: what index assignment minimises.
inline double bit_error_cost(const std::vector<double>& book, const std::vector<double>& use,
                             std::size_t dims) {
    const std::size_t entries = use.size();
    double c = 0.0;
    for (std::size_t k = 0; k < entries; ++k)
        for (std::size_t b = 1; b < entries; b <<= 1) {
            double s = 0.0;
            for (std::size_t d = 0; d < dims; ++d) {
                const double e = book[k * dims + d] - book[(k ^ b) * dims + d];
                s += e * e;
            }
            c += use[k] * s;
        }
    return c;
}

// Renumbers the entries (book and use together) so that an index with one wrong bit tends to
// name a near entry: pairs of entries swap places while that lowers bit_error_cost
// (binary switching). The codebook's contents do not change.
inline void assign_indices(std::vector<double>& book, std::vector<double>& use, std::size_t dims,
                           int passes = 20) {
    const std::size_t entries = use.size();
    auto local = [&](std::size_t i, std::size_t skip) {  // the edges at i, but not to skip
        double c = 0.0;
        for (std::size_t b = 1; b < entries; b <<= 1) {
            const std::size_t j = i ^ b;
            if (j == skip) continue;
            double s = 0.0;
            for (std::size_t d = 0; d < dims; ++d) {
                const double e = book[i * dims + d] - book[j * dims + d];
                s += e * e;
            }
            c += (use[i] + use[j]) * s;
        }
        return c;
    };
    auto swap = [&](std::size_t i, std::size_t j) {
        for (std::size_t d = 0; d < dims; ++d) std::swap(book[i * dims + d], book[j * dims + d]);
        std::swap(use[i], use[j]);
    };
    for (int pass = 0; pass < passes; ++pass) {
        bool moved = false;
        for (std::size_t i = 0; i < entries; ++i) {
            std::size_t best = i;
            double best_gain = 1e-9;
            for (std::size_t j = i + 1; j < entries; ++j) {
                const double before = local(i, j) + local(j, i);
                swap(i, j);
                const double after = local(i, j) + local(j, i);
                swap(i, j);
                if (before - after > best_gain) {
                    best_gain = before - after;
                    best = j;
                }
            }
            if (best != i) {
                swap(i, best);
                moved = true;
            }
        }
        if (!moved) break;
    }
}

}  // namespace tarpo::bench

#endif
