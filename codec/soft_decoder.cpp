#include "codec/soft_decoder.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "codec/soft_statistics.h"

namespace tarpo::codec {

namespace {

// An end envelope whose every codebook has one entry this likely is that entry's.
constexpr double envelope_sure = 1.0 - 1e-6;

constexpr auto& fields = frame_fields;

}  // namespace

double energy_for_mean(int index) {
    const double low = energy_db(1), step = energy_db(2) - energy_db(1);
    return index <= 0 ? low - 2.0 * step : energy_db(index);
}

double energy_from_mean(double mean_db) {
    const double low = energy_db(1), step = energy_db(2) - energy_db(1);
    return mean_db < low - 0.5 * step ? -INFINITY : mean_db;
}

namespace {

void normalise(std::array<double, max_levels>& p, std::size_t levels) {
    double s = 0.0;
    for (std::size_t i = 0; i < levels; ++i) s += p[i];
    if (!(s > 0.0)) s = 1.0;
    for (std::size_t i = 0; i < levels; ++i) p[i] /= s;
}

// Posterior mean of value(i), written as value(ref) plus the mean difference from the
// likeliest index's value, so that a certain index gives its value exactly.
template <typename Value>
double posterior_mean(const std::array<double, max_levels>& p, std::size_t levels, Value value) {
    std::size_t ref = 0;
    for (std::size_t i = 1; i < levels; ++i)
        if (p[i] > p[ref]) ref = i;
    const double v0 = value(static_cast<int>(ref));
    double d = 0.0;
    for (std::size_t i = 0; i < levels; ++i)
        if (p[i] > 0.0) d += p[i] * (value(static_cast<int>(i)) - v0);
    return v0 + d;
}

int likeliest(const std::array<double, max_levels>& p, std::size_t levels) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < levels; ++i)
        if (p[i] > p[best]) best = i;
    return static_cast<int>(best);
}

// out[t] = sum over s of w[s] P(s | t), cond[s * nt + t] = P(s | t); the terms of w far
// below its largest left out. Scaled so that its largest is 1.
void message(const std::array<double, max_levels>& w, std::size_t ns, const double* cond,
             std::size_t nt, std::array<double, max_levels>& out) {
    double top = 0.0;
    for (std::size_t s = 0; s < ns; ++s) top = std::max(top, w[s]);
    std::fill_n(out.begin(), nt, 0.0);
    for (std::size_t s = 0; s < ns; ++s) {
        if (!(w[s] > negligible * top)) continue;
        const double* row = cond + s * nt;
        for (std::size_t t = 0; t < nt; ++t) out[t] += w[s] * row[t];
    }
    double m = 0.0;
    for (std::size_t t = 0; t < nt; ++t) m = std::max(m, out[t]);
    for (std::size_t t = 0; t < nt; ++t) out[t] = m > 0.0 ? out[t] / m : 1.0;
}

// pred = T' a: the probabilities one step after a (which sums to 1) along transitions tr.
void predict(const double* tr, std::size_t levels, const std::array<double, max_levels>& a,
             std::array<double, max_levels>& pred) {
    std::fill_n(pred.begin(), levels, 0.0);
    for (std::size_t i = 0; i < levels; ++i) {
        if (a[i] <= negligible) continue;
        for (std::size_t j = 0; j < levels; ++j) pred[j] += a[i] * tr[i * levels + j];
    }
}

// Filtered posteriors alpha[0..last] of a frame's steps: each step's likelihoods lik[s] times
// its prediction, the first's pred, each later one's from the step before along tr.
void filter_steps(const double* tr, std::size_t levels, std::array<double, max_levels> pred,
                  const std::array<std::array<double, max_levels>, 2>& lik, std::size_t last,
                  std::array<std::array<double, max_levels>, 2>& alpha) {
    for (std::size_t s = 0; s <= last; ++s) {
        for (std::size_t i = 0; i < levels; ++i) alpha[s][i] = lik[s][i] * pred[i];
        normalise(alpha[s], levels);
        if (s < last) predict(tr, levels, alpha[s], pred);
    }
}

}  // namespace

SoftDecoder::SoftDecoder() {
    for (const Field& f : fields) {
        Track& t = tracks_[track_of(f)];
        t.levels = std::size_t{1} << f.bits;
        t.steps = std::max(t.steps, step_of(f) + 1);
    }
    (void)transition_priors();  // built here, not in the first frame
    (void)joint_priors();
}

void SoftDecoder::decode(const std::uint8_t* bits, std::int16_t* speech) {
    decoder_.decode(bits, speech);
    started_ = false;  // the soft chains start again from the next soft frame
    pending_concealed_ = false;
    pending_hard_.dead = true;  // the hard decoder's own estimate stays
}

bool SoftDecoder::decode(const float* llr, std::int16_t* speech) {
    sanitise(llr);
    std::array<std::uint8_t, frame_bits> bits{};
    int ones = 0;
    double noise = 0.0;  // mean bit error probability
    for (std::size_t b = 0; b < frame_bits; ++b) {
        bits[b] = llr_[b] > 0.0 ? 1 : 0;
        ones += bits[b];
        noise += 1.0 / (1.0 + std::exp(std::abs(llr_[b])));
    }
    noise /= static_cast<double>(frame_bits);
    // A dead channel delivers all zeros or all ones (give or take a bit): silence.
    const bool dead = ones <= 1 || ones >= static_cast<int>(frame_bits) - 1;
    const Decoder::Params hard = decoder_.dequantise(unpack_frame(bits.data()), dead);

    likelihoods();
    predict_first_steps();
    add_parity_evidence();
    add_joint_evidence();
    for (std::size_t t = 0; t < track_count; ++t) {
        if (started_) revise(tracks_[t]);
        advance(tracks_[t]);
    }
    // A concealed frame held back before a readable one is estimated after all, from its own
    // bits and both neighbours: across a gap of one frame the speech is interpolated.
    const bool conceal = noise > conceal_above;
    if (started_ && (!pending_concealed_ || !conceal) && !pending_hard_.dead)
        decoder_.revise_pending(estimate(true, pending_hard_));
    started_ = true;

    Decoder::Params next = hard;
    if (conceal) {
        next = concealed();
    } else if (!dead) {
        next = estimate(false, hard);
        last_good_ = next;
        conceal_db_ = next.db[1];
    }
    pending_hard_ = hard;
    pending_concealed_ = conceal;
    decoder_.decode_params(next, speech);
    return conceal;
}

void SoftDecoder::sanitise(const float* llr) {
    for (std::size_t b = 0; b < frame_bits; ++b) {
        const double v = llr[b];
        llr_[b] = std::isfinite(v) ? std::clamp(llr_weight * v, -llr_limit, llr_limit) : 0.0;
    }
}

namespace {

// Per field and index: the checks under which the index's covered bits sum to 1 (check k as
// bit k). Built at compile time, since the checks' rounds ask it for every index.
constexpr auto odd_checks = [] {
    std::array<std::array<std::uint8_t, max_levels>, field_count> t{};
    for (std::size_t j = 0; j < field_count; ++j) {
        const Field& f = frame_fields[j];
        for (unsigned i = 0; i < field_levels(j); ++i) {
            const unsigned code = f.gray ? gray_encode(i) : i;
            for (int k = 0; k < parity_bits; ++k)
                if (std::popcount(code & check_mask(f, k)) & 1) t[j][i] |= 1u << k;
        }
    }
    return t;
}();

// The parity of the bits of index i of field j that check k covers.
int covered_parity(std::size_t j, std::size_t i, int k) {
    return (odd_checks[j][i] >> k) & 1;
}

}  // namespace

void SoftDecoder::predict_first_steps() {
    for (std::size_t track = 0; track < track_count; ++track) {
        Track& t = tracks_[track];
        t.pred = transition_priors().marginal[track];
        if (started_)
            predict(transition_priors().shared.data() + transition_priors().offset[track], t.levels,
                    t.alpha[t.steps - 1], t.pred);
    }
}

void SoftDecoder::predict_covered(std::array<Probs, field_count>& belief) const {
    for (std::size_t j = 0; j < field_count; ++j) {
        const Field& f = frame_fields[j];
        if (!checked(f)) continue;
        const std::size_t track = track_of(f);
        const Track& t = tracks_[track];
        std::array<Probs, 2> alpha{};
        filter_steps(transition_priors().shared.data() + transition_priors().offset[track],
                     t.levels, t.pred, t.next_lik, step_of(f), alpha);
        belief[j] = alpha[step_of(f)];
    }
}

double SoftDecoder::odd_share(const Probs& belief, const CheckMessages& msg, std::size_t j, int k) {
    double odd = 0.0, total = 0.0;
    for (std::size_t i = 0; i < field_levels(j); ++i) {
        double w = belief[i];
        for (int c = 0; c < parity_bits; ++c)
            if (c != k) w *= msg[static_cast<std::size_t>(c)][j][covered_parity(j, i, c)];
        total += w;
        if (covered_parity(j, i, k)) odd += w;
    }
    return total > 0.0 ? odd / total : 0.5;
}

void SoftDecoder::parity_round(const std::array<Probs, field_count>& belief,
                               CheckMessages& msg) const {
    const CheckMessages heard = msg;
    for (int k = 0; k < parity_bits; ++k) {
        // Per member (the fields, then the check's own bit): 1 - 2 P(its parity is 1).
        std::array<double, field_count + 1> bias{};
        std::array<std::size_t, field_count> member{};
        std::size_t m = 0;
        for (std::size_t j = 0; j < field_count; ++j) {
            if (check_mask(frame_fields[j], k) == 0) continue;
            member[m] = j;
            bias[m++] = 1.0 - 2.0 * odd_share(belief[j], heard, j, k);
        }
        bias[m] = -std::tanh(0.5 * llr_[parity_position + static_cast<std::size_t>(k)]);
        for (std::size_t n = 0; n < m; ++n) {
            double others = 1.0;
            for (std::size_t o = 0; o <= m; ++o)
                if (o != n) others *= bias[o];
            const double others_odd = 0.5 * (1.0 - others);
            msg[static_cast<std::size_t>(k)][member[n]] = {1.0 - others_odd, others_odd};
        }
    }
}

void SoftDecoder::add_parity_evidence() {
    // The bits a check covers and its own bit sum to 0 modulo 2. Each field learns from the
    // others how likely its bits under the check are to sum to 1, every other field judged by
    // its bits, by what its track predicts from the frame before and by what the other checks
    // say of it (a few rounds, as the checks share fields): failed checks fall on the field
    // whose received index fits its track worst among those whose bits they point at.
    std::array<Probs, field_count> belief{};
    predict_covered(belief);
    CheckMessages msg;
    for (auto& check : msg) check.fill({1.0, 1.0});
    for (int round = 0; round < parity_rounds; ++round) parity_round(belief, msg);
    for (std::size_t j = 0; j < field_count; ++j) {
        const Field& f = frame_fields[j];
        if (!checked(f)) continue;
        Probs& lik = tracks_[track_of(f)].next_lik[step_of(f)];
        Probs w = lik;
        double sum = 0.0;
        for (std::size_t i = 0; i < field_levels(j); ++i) {
            for (int k = 0; k < parity_bits; ++k)
                w[i] *= msg[static_cast<std::size_t>(k)][j][covered_parity(j, i, k)];
            sum += w[i];
        }
        if (sum > 0.0) lik = w;  // checks that certain bits fail say nothing
    }
}

void SoftDecoder::likelihoods() {
    for (const Field& f : fields) {
        Track& t = tracks_[track_of(f)];
        auto& lik = t.next_lik[step_of(f)];
        const std::size_t levels = std::size_t{1} << f.bits;
        double top = -INFINITY;
        for (std::size_t i = 0; i < levels; ++i) {
            const unsigned code = f.gray ? gray_encode(static_cast<unsigned>(i)) : i;
            double ll = 0.0;
            for (int b = 0; b < f.bits; ++b)
                if ((code >> (f.bits - 1 - b)) & 1u)
                    ll += llr_[static_cast<std::size_t>(f.first_bit + b)];
            lik[i] = ll;
            top = std::max(top, ll);
        }
        for (std::size_t i = 0; i < levels; ++i) lik[i] = std::exp(lik[i] - top);
    }
}

void SoftDecoder::add_joint_evidence() {
    // Belief propagation on the tree: each field's likelihoods gain what the rest of the tree
    // says about it through the trained pairs, first from the leaves up, then down again.
    const JointPriors& jp = joint_priors();
    const auto lik = [&](std::size_t field) -> Probs& {
        const Field& f = frame_fields[field];
        return tracks_[track_of(f)].next_lik[step_of(f)];
    };
    // Likelihoods of a field times its down message and the up messages from its subtrees
    // but the one through pair skip.
    const auto belief = [&](std::size_t field, std::size_t skip, Probs& w) {
        const std::size_t n = field_levels(field);
        const Probs& l = lik(field);
        for (std::size_t i = 0; i < n; ++i) w[i] = l[i] * down_[field][i];
        for (std::size_t e = 0; e < pair_count; ++e)
            if (e != skip && joint_tree[e].first == field)
                for (std::size_t i = 0; i < n; ++i) w[i] *= up_[e][i];
    };
    for (const JointPair& e : joint_tree) {
        std::fill_n(down_[e.first].begin(), field_levels(e.first), 1.0);
        std::fill_n(down_[e.second].begin(), field_levels(e.second), 1.0);
    }
    Probs w{};
    for (std::size_t e = pair_count; e-- > 0;) {  // up: later pairs hang on earlier ones
        const JointPair& p = joint_tree[e];
        belief(p.second, pair_count, w);
        message(w, field_levels(p.second), jp.given_first.data() + jp.offset[e],
                field_levels(p.first), up_[e]);
    }
    for (std::size_t e = 0; e < pair_count; ++e) {  // down
        const JointPair& p = joint_tree[e];
        belief(p.first, e, w);
        message(w, field_levels(p.first), jp.given_second.data() + jp.offset[e],
                field_levels(p.second), down_[p.second]);
    }
    for (std::size_t field = 0; field < field_count; ++field) {
        if (!in_joint_tree(field)) continue;
        belief(field, pair_count, w);
        std::copy_n(w.begin(), field_levels(field), lik(field).begin());
    }
}

void SoftDecoder::revise(Track& t) {
    // Backward through the new frame to the held-back frame's last step, then through it.
    const std::size_t levels = t.levels;
    const std::size_t at =
        transition_priors().offset[static_cast<std::size_t>(&t - tracks_.data())];
    const double* tr = transition_priors().shared.data() + at;
    Probs b{}, w{};
    std::array<std::size_t, max_levels> used{};
    std::fill_n(b.begin(), levels, 1.0);
    auto back = [&](const Probs& lik) {  // b <- T (lik . b), over the terms that count
        double top = 0.0;
        for (std::size_t j = 0; j < levels; ++j) top = std::max(top, w[j] = lik[j] * b[j]);
        std::size_t n = 0;
        for (std::size_t j = 0; j < levels; ++j)
            if (w[j] > negligible * top) used[n++] = j;
        for (std::size_t i = 0; i < levels; ++i) {
            double s = 0.0;
            for (std::size_t k = 0; k < n; ++k) s += tr[i * levels + used[k]] * w[used[k]];
            b[i] = s;
        }
        normalise(b, levels);
    };
    for (std::size_t s = t.steps; s-- > 0;) back(t.next_lik[s]);
    for (std::size_t s = t.steps; s-- > 0;) {
        for (std::size_t i = 0; i < levels; ++i) t.smoothed[s][i] = t.alpha[s][i] * b[i];
        normalise(t.smoothed[s], levels);
        if (s > 0) back(t.lik[s]);
    }
}

void SoftDecoder::advance(Track& t) {
    const std::size_t track = static_cast<std::size_t>(&t - tracks_.data());
    filter_steps(transition_priors().shared.data() + transition_priors().offset[track], t.levels,
                 t.pred, t.next_lik, t.steps - 1, t.alpha);
    t.lik = t.next_lik;
}

Decoder::Params SoftDecoder::estimate(bool smoothed_posterior, const Decoder::Params& hard) const {
    Decoder::Params p = hard;
    // The parity bits served as evidence already: their checks no longer mark the frame.
    p.syndrome = 0;
    const auto log_pitch = [](int i) { return std::log(pitch_hz(i)); };
    Lsf lsf = p.lsf;
    for (const Field& f : fields) {
        const Track& t = tracks_[track_of(f)];
        const std::size_t s = step_of(f), slot = static_cast<std::size_t>(f.slot);
        const auto& post = smoothed_posterior ? t.smoothed[s] : t.alpha[s];
        switch (f.kind) {
            case FieldKind::energy: {
                p.db[slot] = energy_from_mean(posterior_mean(post, t.levels, energy_for_mean));
                break;
            }
            case FieldKind::energy_mid:
                p.mid_db[slot] = posterior_mean(post, t.levels, energy_mid_db);
                break;
            case FieldKind::voicing:
                p.voiced[slot] = likeliest(post, t.levels);
                break;
            case FieldKind::pitch: {
                const int ref = likeliest(post, t.levels);
                const double d = posterior_mean(post, t.levels, log_pitch) - log_pitch(ref);
                p.f0 = pitch_hz(ref) * std::exp(d);
                break;
            }
            case FieldKind::lsf:
                for (std::size_t i = lsf_first[slot]; i < lsf_first[slot + 1]; ++i)
                    lsf[i] = posterior_mean(post, t.levels, [i](int k) { return lsf_value(i, k); });
                p.lsf_index[slot] = likeliest(post, t.levels);
                if (post[static_cast<std::size_t>(p.lsf_index[slot])] < envelope_sure)
                    p.lsf_estimated = true;
                break;
            case FieldKind::lsf_mid:
                for (std::size_t i = lsf_mid_first[slot]; i < lsf_mid_first[slot + 1]; ++i)
                    p.mid_offset[i] =
                        posterior_mean(post, t.levels, [i](int k) { return lsf_mid_value(i, k); });
                break;
        }
    }
    Decoder::set_lsf(p, lsf);
    return p;
}

Decoder::Params SoftDecoder::concealed() {
    Decoder::Params p = last_good_;
    p.dead = false;
    p.syndrome = 0;
    for (std::size_t h = 0; h < 2; ++h) {
        conceal_db_ -= conceal_decay_db;
        if (conceal_db_ < energy_db(1)) conceal_db_ = -INFINITY;  // faded out
        p.db[h] = conceal_db_;
    }
    return p;
}

}  // namespace tarpo::codec
