#include "codec/lpc.h"

#include <algorithm>
#include <cmath>

namespace tarpo::codec {

namespace {

constexpr std::size_t half_order = lpc_order / 2;  // roots per symmetric polynomial

// Evaluates sum_{k=0..5} c[k] cos(k w) as a polynomial in x = cos w (Clenshaw recurrence
// over Chebyshev polynomials).
double chebyshev(const std::array<double, half_order + 1>& c, double x) {
    double b1 = 0.0, b2 = 0.0;
    for (std::size_t k = half_order; k >= 1; --k) {
        const double b0 = 2.0 * x * b1 - b2 + c[k];
        b2 = b1;
        b1 = b0;
    }
    return x * b1 - b2 + c[0];
}

// Finds the half_order roots of the Chebyshev series in x = cos w, w from 0 to pi, by a fine sign
// scan followed by bisection. Returns the number found.
std::size_t find_roots(const std::array<double, half_order + 1>& c,
                       std::array<double, half_order>& w) {
    constexpr int root_grid = 256;  // a root pair closer than pi/256 would be missed; LPC from
                                    // windowed speech with bandwidth expansion never gets there
    std::size_t found = 0;
    double x0 = 1.0;
    double f0 = chebyshev(c, x0);
    for (int i = 1; i <= root_grid && found < half_order; ++i) {
        const double x1 = std::cos(pi * i / root_grid);
        const double f1 = chebyshev(c, x1);
        if ((f0 <= 0.0 && f1 > 0.0) || (f0 >= 0.0 && f1 < 0.0)) {
            double lo = x0, hi = x1, flo = f0;
            for (int it = 0; it < 40; ++it) {
                const double mid = 0.5 * (lo + hi);
                const double fm = chebyshev(c, mid);
                if ((fm <= 0.0) == (flo <= 0.0)) {
                    lo = mid;
                    flo = fm;
                } else {
                    hi = mid;
                }
            }
            w[found++] = std::acos(std::clamp(0.5 * (lo + hi), -1.0, 1.0));
        }
        x0 = x1;
        f0 = f1;
    }
    return found;
}

}  // namespace

std::array<double, lpc_order + 1> autocorrelate(const double* x, std::size_t n) {
    std::array<double, lpc_order + 1> r{};
    for (std::size_t k = 0; k <= lpc_order; ++k) {
        double s = 0.0;
        for (std::size_t i = 0; i + k < n; ++i) s += x[i] * x[i + k];
        r[k] = s;
    }
    return r;
}

double levinson(const std::array<double, lpc_order + 1>& r, Lpc& a) {
    a.fill(0.0);
    a[0] = 1.0;
    if (!(r[0] > 0.0)) return 0.0;
    double err = r[0];
    Lpc tmp{};
    for (std::size_t i = 1; i <= lpc_order; ++i) {
        double acc = r[i];
        for (std::size_t j = 1; j < i; ++j) acc += a[j] * r[i - j];
        const double k = -acc / err;
        if (!(std::abs(k) < 1.0)) break;  // numerically singular: keep the order reached
        tmp = a;
        for (std::size_t j = 1; j < i; ++j) a[j] = tmp[j] + k * tmp[i - j];
        a[i] = k;
        err *= 1.0 - k * k;
    }
    return err;
}

bool lpc_to_lsf(const Lpc& a, Lsf& lsf) {
    // P(z) = A(z) + z^-11 A(1/z) and Q(z) = A(z) - z^-11 A(1/z); dividing out the trivial roots
    // at z = -1 and z = +1 leaves two symmetric polynomials of degree 10.
    std::array<double, lpc_order + 1> p{}, q{};
    double pp = 0.0, qp = 0.0;
    for (std::size_t i = 0; i <= lpc_order; ++i) {
        const double fwd = a[i];
        const double rev = (i == 0) ? 0.0 : a[lpc_order + 1 - i];
        // P'(z) = P(z) / (1 + z^-1): p'[i] = P[i] - p'[i-1]; Q'(z) = Q(z) / (1 - z^-1).
        p[i] = (fwd + rev) - pp;
        q[i] = (fwd - rev) + qp;
        pp = p[i];
        qp = q[i];
    }
    // On the unit circle, e^{j5w} P'(e^{jw}) = p[5] + 2 sum_k p[5-k] cos(k w).
    std::array<double, half_order + 1> cp{}, cq{};
    cp[0] = p[half_order];
    cq[0] = q[half_order];
    for (std::size_t k = 1; k <= half_order; ++k) {
        cp[k] = 2.0 * p[half_order - k];
        cq[k] = 2.0 * q[half_order - k];
    }
    std::array<double, half_order> wp{}, wq{};
    if (find_roots(cp, wp) != half_order || find_roots(cq, wq) != half_order) return false;
    Lsf out{};
    for (std::size_t i = 0; i < half_order; ++i) {
        out[2 * i] = wp[i];
        out[2 * i + 1] = wq[i];
    }
    for (std::size_t i = 1; i < lpc_order; ++i)
        if (!(out[i] > out[i - 1])) return false;  // roots must interlace
    lsf = out;
    return true;
}

Lpc lsf_to_lpc(const Lsf& lsf) {
    // Multiply out P'(z) = prod (1 - 2 cos w z^-1 + z^-2) over the odd-numbered frequencies
    // and Q'(z) over the even-numbered ones, restore the trivial roots, and average.
    std::array<double, lpc_order + 1> p{}, q{};
    p[0] = q[0] = 1.0;
    std::size_t deg = 0;
    for (std::size_t i = 0; i < half_order; ++i) {
        const double cpw = -2.0 * std::cos(lsf[2 * i]);
        const double cqw = -2.0 * std::cos(lsf[2 * i + 1]);
        for (std::size_t j = deg + 2; j >= 2; --j) {
            p[j] += cpw * p[j - 1] + p[j - 2];
            q[j] += cqw * q[j - 1] + q[j - 2];
        }
        p[1] += cpw * p[0];
        q[1] += cqw * q[0];
        deg += 2;
    }
    Lpc a{};
    a[0] = 1.0;
    for (std::size_t i = 1; i <= lpc_order; ++i) {
        const double pk = p[i] + p[i - 1];  // times (1 + z^-1)
        const double qk = q[i] - q[i - 1];  // times (1 - z^-1)
        a[i] = 0.5 * (pk + qk);
    }
    return a;
}

Lsf flat_lsf() {
    Lsf l{};
    for (std::size_t i = 0; i < lpc_order; ++i) l[i] = pi * static_cast<double>(i + 1) / 11.0;
    return l;
}

std::complex<double> lpc_response(const Lpc& a, double w) {
    double re = 0.0, im = 0.0;
    for (std::size_t k = 0; k <= lpc_order; ++k) {
        re += a[k] * std::cos(w * static_cast<double>(k));
        im -= a[k] * std::sin(w * static_cast<double>(k));
    }
    return {re, im};
}

void repair_lsf(Lsf& lsf, double min_gap) {
    for (auto& w : lsf)
        if (!std::isfinite(w)) w = 0.0;
    std::sort(lsf.begin(), lsf.end());
    // Push up from the bottom, then down from the top; the room needed (11 gaps) is far less
    // than pi, so both passes together always succeed.
    double lo = min_gap;
    for (auto& w : lsf) {
        w = std::max(w, lo);
        lo = w + min_gap;
    }
    double hi = pi - min_gap;
    for (std::size_t i = lpc_order; i-- > 0;) {
        lsf[i] = std::min(lsf[i], hi);
        hi = lsf[i] - min_gap;
    }
}

}  // namespace tarpo::codec
