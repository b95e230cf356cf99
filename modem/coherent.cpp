#include "modem/coherent.h"

#include <algorithm>
#include <cmath>

namespace tarpo::modem {

namespace {

using Complex = std::complex<double>;

// e^{j d pi/2} for a step of d quarter turns.
Complex quarter_turns(int d) {
    static constexpr std::array<Complex, 4> turn{Complex(1, 0), Complex(0, 1), Complex(-1, 0),
                                                 Complex(0, -1)};
    return turn[static_cast<std::size_t>(d & 3)];
}

// log(e^a + e^b) without overflow.
double log_sum_exp(double a, double b) {
    const double m = std::max(a, b);
    return m + std::log1p(std::exp(-std::abs(a - b)));
}

// Residual smoothing per symbol: a memory of about 20 symbols, which chooses steadily on a steady
// channel; the look-ahead's misses (below) follow a fade.
constexpr double residual_memory = 0.95;
// The look-ahead's misses count with a shorter memory (0.9 loses a little in fading).
constexpr double ahead_memory = 0.7;
// How sharply the residuals choose among the references: 16 gains a little in fading over a hard
// choice and keeps AWGN where it was (4 loses 0.05 dB there).
constexpr double blend_power = 16.0;
// A carrier whose reference has less than this share of its mean power is in a fade's null:
// there the channel's phase turns fastest, and the second pass adds the differential
// detector's log-likelihoods, with this weight, to the blend's. The share and the weight are
// measured (0.1 against 0.2, and 2 against 1 and 3: good fading at SNR 24 and 30 dB over five
// seeds of the channel). AWGN never fades that deep, so there nothing changes.
constexpr double null_depth = 0.1;
constexpr double null_weight = 2.0;
// The carrier's mean power remembers about 100 symbols, much longer than a fade's null.
constexpr double power_memory = 0.99;
// Drift smoothing per symbol: a memory of about 100 symbols (2 s), long enough that the
// rotation's own noise stays well below the references' tolerance.
constexpr double drift_memory = 0.99;
// A rotation of a whole quarter turn per symbol looks exactly like data, so a fit that
// wandered there in noise would hold itself. What the receiver meets is far smaller: a
// frequency error the tracking has not yet removed (0.2 rad per symbol at 1.6 Hz) and a clock
// error's slope (0.13 rad per symbol at the edge carriers for 2000 ppm). Both terms are kept
// within +-0.3 rad.
constexpr double rotation_limit = 0.3;

}  // namespace

void CoherentDetector::reset() {
    carrier_ = {};
    chosen_ = {};
    miss_ = {};
    rotor_.fill(Complex(1.0, 0.0));
    symbols_ = 0;
}

double CoherentDetector::rotation(int i) const {
    return std::arg(rotor_[static_cast<std::size_t>(i)]);
}

bool CoherentDetector::detect(const std::array<Complex, carriers>& sample, SymbolSoft& out,
                              const Ahead* ahead) {
    if (symbols_ == 0) rotor_.fill(Complex(1.0, 0.0));
    const bool decided = symbols_ > 0;
    for (int i = 0; i < carriers; ++i) {
        const Complex w = oriented(sample[static_cast<std::size_t>(i)]);
        int step = 0;
        Predictions p{};
        if (decided) {
            std::array<double, references> residual{};
            predict(i, ahead, p, residual);
            decide(i, w, p, residual, ahead != nullptr, out);
            step = out.step[static_cast<std::size_t>(i)];
        }
        update(i, w, step, decided, p);
    }
    fit_rotation();
    ++symbols_;
    return decided;
}

void CoherentDetector::predict(int i, const Ahead* ahead, Predictions& p,
                               std::array<double, references>& r) {
    const auto c = static_cast<std::size_t>(i);
    const Carrier& k = carrier_[c];
    for (std::size_t j = 0; j < references; ++j) {
        Complex sum = k.sum[j];
        double weight = k.weight[j];
        double residual = k.residual[j];
        double residual_weight = k.residual_weight[j];
        if (ahead) {
            sum += ahead->sum[c][j];
            weight += ahead->weight[c][j];
            residual += ahead->residual[c][j];
            residual_weight += ahead->residual_weight[c][j];
        }
        p[j] = rotor_[c] * sum / weight;
        r[j] = residual / std::max(residual_weight, 1e-12);
    }
}

void CoherentDetector::mix_in_null(const Carrier& k, Complex w, Complex prediction,
                                   const Predictions& p, const std::array<double, references>& r,
                                   std::array<double, 4>& ll) {
    if (std::norm(prediction) >= null_depth * k.power) return;
    // In a null the differential reference (the previous symbol) follows the turn of phase
    // best, while the blend holds the lower noise: each detector's log-likelihoods count.
    const double scale = null_weight * 2.0 / std::max(r[0], 1e-12 * std::norm(p[0]) + 1e-300);
    const Complex product = w * std::conj(p[0]);
    ll[0] += scale * product.real();
    ll[1] += scale * product.imag();
    ll[2] -= scale * product.real();
    ll[3] -= scale * product.imag();
}

void CoherentDetector::decide(int i, Complex w, const Predictions& p,
                              const std::array<double, references>& r, bool look_ahead,
                              SymbolSoft& out) {
    const auto c = static_cast<std::size_t>(i);
    Carrier& k = carrier_[c];
    // The reference whose predictions missed least lately; ties go to the shorter one.
    std::size_t best = 0;
    for (std::size_t j = 1; j < references; ++j)
        if (r[j] < r[best]) best = j;
    chosen_[c] = static_cast<int>(best);
    // The references blended by how well each predicted lately: (best residual / its
    // residual)^16, so that two about as good share and a clearly worse one drops out.
    Complex blend{};
    double total = 0.0;
    for (std::size_t j = 0; j < references; ++j) {
        const double share = std::pow((r[best] + 1e-300) / (r[j] + 1e-300), blend_power);
        blend += share * p[j];
        total += share;
    }
    const Complex prediction = blend / total;
    // Noise of this prediction's comparison, |sample - prediction|^2 on average: the noise
    // of the sample plus that left in the reference, plus whatever the channel changed.
    const double noise = std::max(r[best], 1e-12 * std::norm(prediction) + 1e-300);
    const Complex product = w * std::conj(prediction);
    // Log-likelihood of step d: 2 Re{w conj(p) e^{-j d pi/2}} / noise.
    const double scale = 2.0 / noise;
    const std::array<double, 4> plain{scale * product.real(), scale * product.imag(),
                                      -scale * product.real(), -scale * product.imag()};
    // A wrong decision at the previous symbol left the reference a quarter turn off (mostly),
    // and this step then reads one off the other way: the likelihoods mix that case in with
    // the probability that the previous decision was wrong.
    const double doubt = std::clamp(k.doubt, 1e-12, 0.5);
    std::array<double, 4> ll{};
    for (std::size_t d = 0; d < 4; ++d)
        ll[d] = log_sum_exp(
            std::log1p(-doubt) + plain[d],
            std::log(doubt / 2.0) + log_sum_exp(plain[(d + 1) & 3], plain[(d + 3) & 3]));
    if (look_ahead && i != pilot_carrier) mix_in_null(k, w, prediction, p, r, ll);
    if (i == pilot_carrier) {
        out.step[c] = ll[2] > ll[0] ? 2 : 0;
        out.pilot_llr = ll[2] - ll[0];
        k.doubt = 1.0 / (1.0 + std::exp(std::abs(plain[2] - plain[0])));
        return;
    }
    const auto step = static_cast<std::size_t>(std::max_element(ll.begin(), ll.end()) - ll.begin());
    out.step[c] = static_cast<int>(step);
    // The chance that this decision is wrong, had the reference been right.
    double others = 0.0;
    for (std::size_t d = 0; d < 4; ++d)
        if (d != step) others += std::exp(plain[d] - plain[step]);
    k.doubt = others / (1.0 + others);
    out.llr[2 * c] = log_sum_exp(ll[1], ll[3]) - log_sum_exp(ll[0], ll[2]);
    out.llr[2 * c + 1] = log_sum_exp(ll[2], ll[3]) - log_sum_exp(ll[0], ll[1]);
}

void CoherentDetector::update(int i, Complex w, int step, bool decided, const Predictions& p) {
    const auto c = static_cast<std::size_t>(i);
    Carrier& k = carrier_[c];
    const Complex turn = quarter_turns(step);
    for (std::size_t j = 0; j < references; ++j) {
        if (decided) {
            miss_[c][j] = std::norm(w - p[j] * turn);
            k.residual[j] = residual_memory * k.residual[j] + miss_[c][j];
            k.residual_weight[j] = residual_memory * k.residual_weight[j] + 1.0;
        }
        // The reference, aligned to this symbol: the older samples turned by the steps since.
        k.sum[j] = w + forgetting_[j] * rotor_[c] * k.sum[j] * turn;
        k.weight[j] = 1.0 + forgetting_[j] * k.weight[j];
    }
    if (decided) k.drift = drift_memory * k.drift + w * std::conj(k.last * turn);
    k.power =
        k.power > 0.0 ? power_memory * k.power + (1.0 - power_memory) * std::norm(w) : std::norm(w);
    k.last = w;
}

void CoherentDetector::fit_rotation() {
    // Weighted least squares of each carrier's drift angle against (i - 7): a common
    // frequency error plus a slope.
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, t0 = 0.0, t1 = 0.0;
    for (int i = 0; i < carriers; ++i) {
        const Complex d = carrier_[static_cast<std::size_t>(i)].drift;
        const double m = std::abs(d);
        if (m == 0.0) continue;
        const double x = i - pilot_carrier;
        const double phi = std::arg(d);
        s0 += m;
        s1 += m * x;
        s2 += m * x * x;
        t0 += m * phi;
        t1 += m * x * phi;
    }
    const double det = s0 * s2 - s1 * s1;
    if (!(det > 0.0)) return;
    const double a = std::clamp((t0 * s2 - t1 * s1) / det, -rotation_limit, rotation_limit);
    const double b = std::clamp((s0 * t1 - s1 * t0) / det, -rotation_limit / pilot_carrier,
                                rotation_limit / pilot_carrier);
    for (int i = 0; i < carriers; ++i)
        rotor_[static_cast<std::size_t>(i)] = std::polar(1.0, a + b * (i - pilot_carrier));
}

void LookaheadDetector::reset() {
    first_.reset();
    second_.reset();
    head_ = 0;
    count_ = 0;
}

bool LookaheadDetector::push(const std::array<Complex, carriers>& sample, bool after_gap,
                             Out& out) {
    if (after_gap) first_.reset();
    Entry& e = ring_[head_];
    SymbolSoft soft;
    e.fresh = !first_.detect(sample, soft);
    e.sample = sample;
    e.step = soft.step;
    e.llr = soft.llr;
    e.after_gap = after_gap;
    for (int i = 0; i < carriers; ++i) e.miss[static_cast<std::size_t>(i)] = first_.miss(i);
    head_ = (head_ + 1) % ring_.size();
    if (++count_ <= lookahead) return false;
    count_ = lookahead;
    const std::size_t oldest = head_;  // the slot just past the newest is the oldest
    const Entry& n = ring_[oldest];
    if (n.fresh) second_.reset();
    CoherentDetector::Ahead ahead;
    look_ahead(oldest, ahead);
    out.soft = SymbolSoft{};
    out.decided = second_.detect(n.sample, out.soft, &ahead);
    if (out.decided) temper(n.llr, out.soft.llr);
    out.after_gap = n.after_gap;
    return true;
}

void LookaheadDetector::temper(const std::array<double, 2 * carriers>& first,
                               std::array<double, 2 * carriers>& llr) {
    // The second pass trusts steps the first pass decided, and a wrong one there (a fade)
    // leaves it sure of a wrong bit. So a bit is only as sure as both passes are: the smaller
    // magnitude where they agree, next to nothing where they do not. The sign stays the
    // second pass's, which is the hard decision.
    for (std::size_t b = 0; b < llr.size(); ++b) {
        if (llr[b] == 0.0) continue;  // the pilot
        const double both = first[b] * llr[b] > 0.0 ? std::abs(first[b]) : 0.0;
        llr[b] = std::copysign(std::max(std::min(both, std::abs(llr[b])), 1e-3), llr[b]);
    }
}

void LookaheadDetector::look_ahead(std::size_t oldest, CoherentDetector::Ahead& ahead) const {
    const auto& lambda = second_.forgetting();
    std::array<int, carriers> turned = ring_[oldest].step;  // first-pass steps since the one before
    std::array<double, CoherentDetector::references> power{};
    power.fill(1.0);
    double rho = 1.0;
    for (std::size_t k = 1; k <= lookahead; ++k) {
        const Entry& e = ring_[(oldest + k) % ring_.size()];
        if (e.fresh) break;  // nothing reaches across a gap
        rho *= ahead_memory;
        for (std::size_t j = 0; j < CoherentDetector::references; ++j) power[j] *= lambda[j];
        for (std::size_t c = 0; c < carriers; ++c) {
            turned[c] += e.step[c];
            const Complex r = second_.rotor(static_cast<int>(c));
            // Back k + 1 symbols: the steps and the rotation removed.
            Complex back = CoherentDetector::oriented(e.sample[c]) * quarter_turns(-turned[c]);
            for (std::size_t m = 0; m <= k; ++m) back *= std::conj(r);
            for (std::size_t j = 0; j < CoherentDetector::references; ++j) {
                ahead.sum[c][j] += power[j] * back;
                ahead.weight[c][j] += power[j];
                ahead.residual[c][j] += rho * e.miss[c][j];
                ahead.residual_weight[c][j] += rho;
            }
        }
    }
}

}  // namespace tarpo::modem
