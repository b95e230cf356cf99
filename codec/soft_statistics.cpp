#include "codec/soft_statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "codec/tables/soft_joint_priors.h"
#include "codec/tables/soft_priors.h"

namespace tarpo::codec {

namespace {

// How far the trained transitions are trusted: each row is mixed with the overall index
// probabilities by this share, so that no change the training never saw is impossible.
constexpr double transition_floor = 0.02;
// Pseudo-count, in frames, pulling rarely seen rows towards the overall probabilities.
constexpr double row_prior_frames = 2.0;
// Width of the kernel that shares the end envelope's transition counts out among close
// codebook entries, in median distances from an entry to its nearest neighbour.
constexpr double envelope_kernel_width = 0.7;

constexpr auto& fields = frame_fields;

// Counts of the trained priors, or none (every transition alike) where they were made for
// another frame layout.
double count(std::size_t cell) {
    return soft_priors_fit() ? soft_prior_counts[cell] : 0.0;
}

// From counts c(s, t): m, the overall probabilities of s (one pseudo-count per index), and
// P(s | t): each column of the counts pulled towards m by row_prior_frames and mixed with it
// by transition_floor, so that nothing the training never saw is impossible. put(s, t, P)
// stores each.
template <typename Count, typename Put>
void smoothed_conditional(std::size_t ns, std::size_t nt, Count c,
                          std::array<double, max_levels>& m, Put put) {
    double total = 0.0;
    for (std::size_t s = 0; s < ns; ++s) {
        m[s] = 1.0;
        for (std::size_t t = 0; t < nt; ++t) m[s] += c(s, t);
        total += m[s];
    }
    for (std::size_t s = 0; s < ns; ++s) m[s] /= total;
    for (std::size_t t = 0; t < nt; ++t) {
        double col = 0.0;
        for (std::size_t s = 0; s < ns; ++s) col += c(s, t);
        for (std::size_t s = 0; s < ns; ++s) {
            const double trained = (c(s, t) + row_prior_frames * m[s]) / (col + row_prior_frames);
            put(s, t, (1.0 - transition_floor) * trained + transition_floor * m[s]);
        }
    }
}

// End-envelope codebook of a track, or lsf_groups for the others.
constexpr std::size_t envelope_group(std::size_t track) {
    for (const Field& f : fields)
        if (f.kind == FieldKind::lsf && track_of(f) == track)
            return static_cast<std::size_t>(f.slot);
    return lsf_groups;
}

// Weights w[i * n + j] of entry j among entry i's neighbours in codebook group g: a Gaussian
// of their distance, in units of the median distance from an entry to its nearest neighbour,
// each row summing to 1.
std::vector<double> entry_kernel(std::size_t g) {
    const std::size_t n = lsf_entries(g);
    std::vector<double> d(n * n), nearest(n, INFINITY);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            double s = 0.0;
            for (std::size_t k = lsf_first[g]; k < lsf_first[g + 1]; ++k) {
                const double e =
                    lsf_value(k, static_cast<int>(i)) - lsf_value(k, static_cast<int>(j));
                s += e * e;
            }
            d[i * n + j] = s;
            if (i != j) nearest[i] = std::min(nearest[i], s);
        }
    std::nth_element(nearest.begin(), nearest.begin() + static_cast<std::ptrdiff_t>(n / 2),
                     nearest.end());
    const double scale = envelope_kernel_width * envelope_kernel_width * nearest[n / 2];
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::size_t j = 0; j < n; ++j)
            sum += d[i * n + j] = std::exp(-0.5 * d[i * n + j] / scale);
        for (std::size_t j = 0; j < n; ++j) d[i * n + j] /= sum;
    }
    return d;
}

// The counts c[from * n + to] of end-envelope codebook g's track with every count shared out
// among the entries near its from and near its to: with 256 entries most of the 65536
// transitions are seen a few times or never, and close entries are followed alike.
template <typename Count>
std::vector<double> spread_counts(std::size_t g, Count c) {
    const std::size_t n = lsf_entries(g);
    const std::vector<double> w = entry_kernel(g);
    std::vector<double> a(n * n, 0.0), b(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double k = c(i, j);
            if (k > 0.0)
                for (std::size_t u = 0; u < n; ++u) a[i * n + u] += k * w[j * n + u];
        }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t v = 0; v < n; ++v) {
            const double k = w[i * n + v];
            if (k > negligible)
                for (std::size_t u = 0; u < n; ++u) b[v * n + u] += k * a[i * n + u];
        }
    return b;
}

void build_track(TransitionPriors& p, std::size_t t) {
    const std::size_t levels = levels_of[t], at = p.offset[t];
    const std::size_t g = envelope_group(t);
    const auto raw = [&](std::size_t from, std::size_t to) {
        return count(at + from * levels + to);
    };
    const std::vector<double> spread =
        g < lsf_groups ? spread_counts(g, raw) : std::vector<double>{};
    smoothed_conditional(
        levels, levels,
        [&](std::size_t to, std::size_t from) {
            return spread.empty() ? raw(from, to) : spread[from * levels + to];
        },
        p.marginal[t],
        [&](std::size_t to, std::size_t from, double v) { p.shared[at + from * levels + to] = v; });
}

void build_priors(TransitionPriors& q) {
    std::size_t at = 0;
    for (std::size_t t = 0; t < track_count; ++t) {
        q.offset[t] = at;
        at += levels_of[t] * levels_of[t];
    }
    for (std::size_t t = 0; t < track_count; ++t) build_track(q, t);
}

}  // namespace

const TransitionPriors& transition_priors() {
    static TransitionPriors p;
    static const bool built = (build_priors(p), true);
    (void)built;
    return p;
}

bool soft_joint_priors_fit() {
    if (soft_joint_levels.size() != 2 * pair_count) return false;
    for (std::size_t e = 0; e < pair_count; ++e)
        if (soft_joint_levels[2 * e] != field_levels(joint_tree[e].first) ||
            soft_joint_levels[2 * e + 1] != field_levels(joint_tree[e].second))
            return false;
    return soft_joint_counts.size() == joint_cells();
}

namespace {

void build_joint(JointPriors& q) {
    const bool fit = soft_joint_priors_fit();
    std::size_t at = 0;
    for (std::size_t g = 0; g < pair_count; ++g) {
        const std::size_t n1 = field_levels(joint_tree[g].first);
        const std::size_t n2 = field_levels(joint_tree[g].second);
        const auto c = [&](std::size_t i, std::size_t j) {
            return fit ? static_cast<double>(soft_joint_counts[at + i * n2 + j]) : 0.0;
        };
        q.offset[g] = at;
        std::array<double, max_levels> m{};
        smoothed_conditional(n1, n2, c, m, [&](std::size_t i, std::size_t j, double v) {
            q.given_second[at + i * n2 + j] = v;
        });
        smoothed_conditional(
            n2, n1, [&](std::size_t j, std::size_t i) { return c(i, j); }, m,
            [&](std::size_t j, std::size_t i, double v) { q.given_first[at + j * n1 + i] = v; });
        at += n1 * n2;
    }
}

}  // namespace

const JointPriors& joint_priors() {
    static JointPriors p;
    static const bool built = (build_joint(p), true);
    (void)built;
    return p;
}

double joint_prob(std::size_t pair, int first, int second) {
    const JointPriors& q = joint_priors();
    const auto n1 = field_levels(joint_tree[pair].first);
    return q.given_first[q.offset[pair] + static_cast<std::size_t>(second) * n1 +
                         static_cast<std::size_t>(first)];
}

double shared_transition_prob(std::size_t track, int from, int to) {
    const TransitionPriors& p = transition_priors();
    return p.shared[p.offset[track] + static_cast<std::size_t>(from) * levels_of[track] +
                    static_cast<std::size_t>(to)];
}

bool soft_priors_fit() {
    if (soft_prior_levels.size() != track_count) return false;
    for (std::size_t t = 0; t < track_count; ++t)
        if (soft_prior_levels[t] != levels_of[t]) return false;
    return true;
}

}  // namespace tarpo::codec
