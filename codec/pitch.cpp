#include "codec/pitch.h"

#include <algorithm>
#include <cmath>

namespace tarpo::codec {

double PitchEstimator::correlation(const double* x, std::size_t centre, int lag) {
    const std::size_t a = static_cast<std::size_t>(lag) / 2;
    const std::size_t b = static_cast<std::size_t>(lag) - a;
    const std::size_t start = centre - window_length / 2;
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (std::size_t t = start; t < start + window_length; ++t) {
        const double u = x[t - a];
        const double v = x[t + b];
        xy += u * v;
        xx += u * u;
        yy += v * v;
    }
    const double den = std::sqrt(xx * yy);
    return den > 1e-12 ? xy / den : 0.0;
}

int PitchEstimator::peak_in(int lo, int hi) const {
    lo = std::max(lo, shortest_lag);
    hi = std::min(hi, longest_lag);
    int best = -1;
    for (int l = lo; l <= hi; ++l) {
        const bool local = (l == shortest_lag || ncc_[l] >= ncc_[l - 1]) &&
                           (l == longest_lag || ncc_[l] >= ncc_[l + 1]);
        if (local && (best < 0 || ncc_[l] > ncc_[best])) best = l;
    }
    return best;
}

PitchEstimate PitchEstimator::estimate(const double* x, std::size_t centre, double prev_lag) {
    for (int l = shortest_lag; l <= longest_lag; ++l) ncc_[l] = correlation(x, centre, l);

    int best = peak_in(shortest_lag, longest_lag);
    if (best < 0) return {static_cast<double>(longest_lag), 0.0};
    const double top = ncc_[best];

    // A periodic signal correlates as well at two or three periods as at one; take the
    // shortest period that does nearly as well as the best. 0.85 keeps a strong second
    // harmonic (first formant near twice the pitch) from halving the period.
    for (int d = 4; d >= 2; --d) {
        const double sub = static_cast<double>(best) / d;
        if (sub < shortest_lag) continue;
        const int l = peak_in(static_cast<int>(std::floor(sub * 0.94)),
                              static_cast<int>(std::ceil(sub * 1.06)));
        if (l > 0 && ncc_[l] >= 0.85 * top) {
            best = l;
            break;
        }
    }

    // Voiced speech rarely jumps more than 15 % in period between 20 ms instants: keep the
    // previous track if it scores nearly as well.
    if (prev_lag > 0.0) {
        const int l = peak_in(static_cast<int>(std::floor(prev_lag * 0.85)),
                              static_cast<int>(std::ceil(prev_lag * 1.15)));
        if (l > 0 && l != best && ncc_[l] >= ncc_[best] - 0.08) best = l;
    }

    // Parabolic refinement to a fractional lag.
    double lag = best;
    double score = ncc_[best];
    if (best > shortest_lag && best < longest_lag) {
        const double ym = ncc_[best - 1], y0 = ncc_[best], yp = ncc_[best + 1];
        const double den = ym - 2.0 * y0 + yp;
        if (den < 0.0) {
            const double off = std::clamp(0.5 * (ym - yp) / den, -0.5, 0.5);
            lag += off;
            score = y0 - 0.25 * (ym - yp) * off;
        }
    }
    return {lag, std::min(score, 1.0)};
}

}  // namespace tarpo::codec
