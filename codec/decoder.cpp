#include "codec/decoder.h"

#include <algorithm>
#include <cmath>

#include "codec/repair.h"

namespace tarpo::codec {

namespace {

constexpr double top_hz = 3800.0;           // no harmonic or noise above this
constexpr double full_voicing_hz = 4000.0;  // harmonic band of a fully voiced instant
constexpr double de_emphasis = 0.9;         // undoes the encoder's analysis pre-emphasis
constexpr double post_num = 0.72;           // post-filter A(z/0.72) / A(z/0.8): deepens the
constexpr double post_den = 0.8;            // valleys between formants
constexpr double rise_floor_db = -60.0;     // energy rise is limited relative to this floor...
constexpr double max_rise_db = 30.0;        // ...at this many dB per 20 ms half frame
constexpr double silent_db = -80.0;         // levels below this compare as silence
constexpr double outlier_db = 20.0;         // an energy this far off both neighbours is an error
constexpr double pitch_jump = 1.2;          // a pitch this far off both neighbours likewise
constexpr double limiter_knee = 0.5 * 32768.0;  // the output limiter is linear below this

// Response of A(z) with coefficients scaled by g^k at z = e^{jw}, given rotor = e^{-jw}.
std::complex<double> response(const Lpc& a, double g, std::complex<double> rotor) {
    std::complex<double> zk = 1.0, sum = 0.0;
    double gk = 1.0;
    for (std::size_t k = 0; k <= lpc_order; ++k) {
        sum += a[k] * gk * zk;
        zk *= rotor;
        gk *= g;
    }
    return sum;
}

// Envelope at one frequency: 1/|A|, the de-emphasis and the post-filter; and the phase of
// the minimum-phase synthesis filter.
struct EnvelopeSample {
    double magnitude;
    double phase;
};

EnvelopeSample envelope(const Lpc& a, std::complex<double> rotor) {
    const std::complex<double> h = response(a, 1.0, rotor);
    const std::complex<double> de = 1.0 - de_emphasis * rotor;
    const double num = std::abs(response(a, post_num, rotor));
    const double den = std::abs(response(a, post_den, rotor));
    const double mag = num / std::max(std::abs(h) * std::abs(de) * den, 1e-9);
    return {mag, -std::arg(h) - std::arg(de)};
}

}  // namespace

Decoder::Decoder() {
    (void)transition_log_prob(0, 0, 0);  // the trained statistics, summed here once
    lsf_ = flat_lsf();
    before_.lsf = lsf_;
    pending_.lsf = lsf_;
    for (std::size_t b = 0; b < noise_bins; ++b) {
        const double w = 2.0 * pi * static_cast<double>(b) / noise_fft;
        bin_rotor_[b] = {std::cos(w), -std::sin(w)};
    }
    for (std::size_t n = 0; n < noise_length; ++n)
        noise_window_[n] = std::sin(pi * (n + 0.5) / noise_length);
    last_.f0 = f0_;
}

double Decoder::next_uniform() {
    // xorshift64*: deterministic and the same on every platform.
    rng_ ^= rng_ >> 12;
    rng_ ^= rng_ << 25;
    rng_ ^= rng_ >> 27;
    return static_cast<double>((rng_ * 0x2545F4914F6CDD1Dull) >> 11) * (1.0 / 9007199254740992.0);
}

void Decoder::build_point(const Lsf& lsf, Point& p) {
    p.harmonics = 0;
    p.noise.fill(0.0);
    if (!(p.energy > 0.0)) {
        return;  // silence: no harmonics, no noise
    }
    const Lpc a = lsf_to_lpc(lsf);
    const double cutoff = std::min(p.voicing * full_voicing_hz, top_hz);
    const double w0 = 2.0 * pi * p.f0 / sample_rate;
    const std::complex<double> rotor0(std::cos(w0), -std::sin(w0));

    // Envelope at the harmonics below the cutoff. Each harmonic stands for a band one pitch
    // wide, so its power is the envelope's power density times f0.
    double power = 0.0;
    std::complex<double> rotor = 1.0;
    std::size_t h = 0;
    while (h < max_harmonics && (h + 1) * p.f0 <= cutoff) {
        ++h;
        rotor *= rotor0;
        const EnvelopeSample e = envelope(a, rotor);
        const double pw = e.magnitude * e.magnitude * p.f0 / (0.5 * sample_rate);
        power += pw;
        p.re[h] = std::sqrt(2.0 * pw) * std::cos(e.phase);
        p.im[h] = std::sqrt(2.0 * pw) * std::sin(e.phase);
    }
    p.harmonics = h;

    // Envelope on the noise grid above the cutoff; every bin of 31.25 Hz has power density
    // times 31.25 Hz.
    spectrum_.fill(0.0);
    const double bin_hz = sample_rate / noise_fft;
    for (std::size_t b = 1; b + 1 < noise_bins; ++b) {
        const double f = bin_hz * static_cast<double>(b);
        if (f < cutoff || f > top_hz) continue;
        const double m = envelope(a, bin_rotor_[b]).magnitude;
        power += m * m * bin_hz / (0.5 * sample_rate);
        const double phi = 2.0 * pi * next_uniform();
        spectrum_[b] = std::polar(m * std::sqrt(static_cast<double>(noise_fft)), phi);
        spectrum_[noise_fft - b] = std::conj(spectrum_[b]);
    }

    const double g = power > 0.0 ? p.energy / std::sqrt(power) : 0.0;
    for (std::size_t k = 1; k <= h; ++k) {
        p.re[k] *= g;
        p.im[k] *= g;
    }
    if (h == 0 || cutoff < top_hz) {
        fft_.inverse(spectrum_);
        for (std::size_t n = 0; n < noise_length; ++n)
            p.noise[n] = g * spectrum_[n].real() * noise_window_[n];
    }
}

void Decoder::synthesise_segment(const Point& a, const Point& b, double* out) {
    // Harmonics of both instants run on one phase track whose frequency glides linearly; a
    // harmonic that would pass top_hz during the glide is left out.
    const double fmax = std::max(a.f0, b.f0);
    const auto limit = static_cast<std::size_t>(top_hz / fmax);
    const std::size_t ha = std::min(a.harmonics, limit);
    const std::size_t hb = std::min(b.harmonics, limit);
    const double dw = 2.0 * pi / sample_rate;
    for (std::size_t n = 0; n < hop; ++n) {
        const double t = (static_cast<double>(n) + 0.5) / hop;
        phase_ += dw * (a.f0 + (b.f0 - a.f0) * t);
        if (phase_ >= pi) phase_ -= 2.0 * pi;
        const double zr = std::cos(phase_), zi = std::sin(phase_);
        // Horner's rule for sum_h c_h z^h.
        auto horner = [&](const Point& p, std::size_t count) {
            double sr = 0.0, si = 0.0;
            for (std::size_t h = count; h >= 1; --h) {
                const double r = sr * zr - si * zi + p.re[h];
                si = sr * zi + si * zr + p.im[h];
                sr = r;
            }
            return sr * zr - si * zi;  // real part of one more multiplication by z
        };
        double v = 0.0;
        if (ha > 0) v += (1.0 - t) * horner(a, ha);
        if (hb > 0) v += t * horner(b, hb);
        out[n] = v + a.noise[hop + n] + b.noise[n];
    }
}

void Decoder::decode(const std::uint8_t* bits, std::int16_t* speech) {
    // A dead channel delivers all zeros or all ones (give or take a bit): play silence.
    int ones = 0;
    for (std::size_t i = 0; i < frame_bits; ++i) ones += bits[i] & 1;
    const bool dead = ones <= 1 || ones >= static_cast<int>(frame_bits) - 1;
    decode_params(dequantise(unpack_frame(bits), dead), speech);
}

Decoder::Params Decoder::dequantise(const FrameIndices& f, bool dead) const {
    Params p;
    p.dead = dead;
    for (std::size_t h = 0; h < 2; ++h) {
        p.db[h] = dead ? -INFINITY : energy_db(f.energy[h]);
        p.mid_db[h] = energy_mid_db(f.energy_mid[h]);
        p.voiced[h] = dead ? 0 : std::clamp(f.voiced[h], 0, voicing_levels - 1);
    }
    p.f0 = pitch_hz(f.pitch);
    p.syndrome = f.syndrome;
    p.lsf_index = f.lsf;
    p.mid_offset = lsf_mid_offsets(f.lsf_mid);
    p.index = f;
    set_lsf(p, dequantise_lsf(f.lsf));
    return p;
}

void Decoder::set_lsf(Params& p, const Lsf& lsf) {
    p.lsf = lsf;
    repair_lsf(p.lsf, lsf_min_gap);
}

Decoder::Params Decoder::smooth(const Params& before, const Params& mid, const Params& after) {
    Params p = mid;
    // Energy, per half frame: a level more than outlier_db above or below both neighbouring
    // halves is taken back to the nearer one: a jump no speech makes (real stops and bursts
    // move 10-15 dB within 20 ms), left by errors the parity check does not see.
    if (mid.dead) return p;  // a dead channel stays silent
    auto floor_db = [](double db) { return std::max(db, silent_db); };
    const std::array<double, 4> e = {floor_db(before.db[1]), floor_db(mid.db[0]),
                                     floor_db(mid.db[1]), floor_db(after.db[0])};
    for (std::size_t h = 0; h < 2; ++h) {
        const double lo = std::min(e[h], e[h + 2]), hi = std::max(e[h], e[h + 2]);
        const double v = e[h + 1];
        if (v > hi + outlier_db) {
            p.db[h] = hi > silent_db ? hi : -INFINITY;
        } else if (v < lo - outlier_db) {
            p.db[h] = lo;
        }
    }
    // Pitch: between two voiced neighbours that agree, a value far from both is replaced by
    // their geometric mean.
    const bool vb = before.voiced[1] != 0, va = after.voiced[0] != 0 || after.voiced[1] != 0;
    if (vb && va) {
        const double r = after.f0 / before.f0;
        const double m = std::sqrt(before.f0 * after.f0);
        if (r < 1.15 && r > 1.0 / 1.15 &&
            (mid.f0 / m > pitch_jump || mid.f0 / m < 1.0 / pitch_jump))
            p.f0 = m;
    }
    if (!mid.lsf_estimated) smooth_lsf(before, after, p);
    return p;
}

void Decoder::smooth_lsf(const Params& before, const Params& after, Params& mid) {
    // Trained levels of neighbouring frequencies seldom cross, so a pair that does carries a
    // damaged index: of the two, the one farther from the neighbouring frames' mean is
    // replaced by that mean.
    if (before.dead || after.dead) return;
    Lsf raw = dequantise_lsf(mid.lsf_index);
    bool changed = false;
    for (std::size_t i = 1; i < lpc_order; ++i) {
        if (raw[i] > raw[i - 1]) continue;
        const double m0 = 0.5 * (before.lsf[i - 1] + after.lsf[i - 1]);
        const double m1 = 0.5 * (before.lsf[i] + after.lsf[i]);
        if (std::abs(raw[i - 1] - m0) > std::abs(raw[i] - m1))
            raw[i - 1] = m0;
        else
            raw[i] = m1;
        changed = true;
    }
    if (!changed) return;
    mid.lsf = raw;
    repair_lsf(mid.lsf, lsf_min_gap);
}

void Decoder::decode(const FrameIndices& f, std::int16_t* speech) {
    decode_params(dequantise(f, false), speech);
}

Decoder::Params Decoder::repaired(const Params& p, const Params& next) const {
    if (p.dead || p.syndrome == 0) return p;
    const Repair fix = repair_parity(before_.index, p.index, next.index);
    Params r = dequantise(fix.likeliest, false);
    // The values the likely repairs give, weighted by their probabilities.
    r.db = fix.db;
    r.f0 = std::exp(fix.log_f0);
    set_lsf(r, fix.lsf);
    r.syndrome = 0;  // settled
    return r;
}

void Decoder::decode_params(const Params& next, std::int16_t* speech) {
    const Params current = repaired(pending_, next);
    const Params now = smooth(before_, current, next);
    before_ = current;
    pending_ = next;
    synthesise(now, speech);
}

void Decoder::synthesise(const Params& p, std::int16_t* speech) {
    // Energies, with a bounded rise so that a damaged index cannot make a loud burst.
    std::array<double, 2> db{};
    double prev_db = energy_ > 0.0 ? 20.0 * std::log10(energy_) : -INFINITY;
    for (std::size_t h = 0; h < 2; ++h) {
        db[h] = std::min(p.db[h], std::max(prev_db, rise_floor_db) + max_rise_db);
        prev_db = db[h];
    }
    const std::array<double, 2> rms = {std::isfinite(db[0]) ? std::pow(10.0, db[0] / 20.0) : 0.0,
                                       std::isfinite(db[1]) ? std::pow(10.0, db[1] / 20.0) : 0.0};
    const std::array<double, 2> mid_gain = {std::pow(10.0, p.mid_db[0] / 20.0),
                                            std::pow(10.0, p.mid_db[1] / 20.0)};
    // Share of the band below full_voicing_hz that is harmonic.
    const std::array<double, 2> voiced = {voicing_cutoff_hz(p.voiced[0]) / full_voicing_hz,
                                          voicing_cutoff_hz(p.voiced[1]) / full_voicing_hz};
    const Lsf& lsf = p.lsf;
    // The envelope at the frame's middle, and halfway between it and either end.
    Lsf mid = lsf_mid_from_offsets(p.mid_offset, lsf_, lsf);
    repair_lsf(mid, lsf_min_gap);

    // The pitch belongs to the last voiced half; it glides there from the previous frame's
    // pitch when that was voiced and not too far away (a larger jump is a new talker or an
    // octave change, where gliding would sound wrong).
    const double f0 = p.f0;
    const std::size_t anchor = p.voiced[1] ? points_per_frame : points_per_frame / 2;
    const double ratio = f0 / f0_;
    const bool glide = voicing_ > 0.0 && ratio < 1.3 && ratio > 1.0 / 1.3;

    for (std::size_t k = 1; k <= points_per_frame; ++k) {
        Lsf li{};
        const Lsf& from = k <= 2 ? lsf_ : mid;
        const Lsf& to = k <= 2 ? mid : lsf;
        const double alpha = k % 2 ? 0.5 : 1.0;
        for (std::size_t i = 0; i < lpc_order; ++i) li[i] = (1.0 - alpha) * from[i] + alpha * to[i];
        switch (k) {
            case 1:
                next_.energy = 0.5 * (energy_ + rms[0]) * mid_gain[0];
                next_.voicing = 0.5 * (voicing_ + voiced[0]);
                break;
            case 2:
                next_.energy = rms[0];
                next_.voicing = voiced[0];
                break;
            case 3:
                next_.energy = 0.5 * (rms[0] + rms[1]) * mid_gain[1];
                next_.voicing = 0.5 * (voiced[0] + voiced[1]);
                break;
            default:
                next_.energy = rms[1];
                next_.voicing = voiced[1];
                break;
        }
        next_.f0 = (glide && k < anchor)
                       ? f0_ * std::pow(ratio, static_cast<double>(k) / static_cast<double>(anchor))
                       : f0;
        build_point(li, next_);
        synthesise_segment(last_, next_, out_.data() + (k - 1) * hop);
        std::swap(last_, next_);
    }

    lsf_ = lsf;
    energy_ = rms[1];
    voicing_ = voiced[1];
    if (p.voiced[0] || p.voiced[1]) f0_ = f0;

    // Soft limiter: linear below the knee, then a tanh curve that never reaches peak_limit.
    for (std::size_t n = 0; n < frame_samples; ++n) {
        double v = out_[n] * 32768.0;
        if (!std::isfinite(v)) v = 0.0;
        const double m = std::abs(v);
        if (m > limiter_knee) {
            const double room = peak_limit - limiter_knee;
            v = std::copysign(limiter_knee + room * std::tanh((m - limiter_knee) / room), v);
        }
        speech[n] = static_cast<std::int16_t>(std::lround(v));
    }
}

}  // namespace tarpo::codec
