#include "codec/encoder.h"

#include <algorithm>
#include <cmath>

namespace tarpo::codec {

namespace {

constexpr double highpass_hz = 100.0;   // rumble, hum and DC stay out of the analysis
constexpr double pre_emphasis = 0.9;    // LPC analysis of 1 - 0.9 z^-1 filtered speech
constexpr double lag_window_hz = 30.0;  // Gaussian lag window: widens sharp formants
constexpr double noise_floor = 1.0001;  // white-noise correction of r[0]
constexpr double bandwidth_expansion = 0.985;
constexpr double voicing_threshold = 0.65;  // normalised correlation for "voiced"
constexpr double voicing_min_db = -60.0;    // quieter halves are sent unvoiced
// The band 200 Hz - 1 kHz counts as harmonic when it correlates this well at the pitch period.
constexpr double band_voicing_threshold = 0.4;
constexpr double voice_band_low_hz = 200.0;
constexpr double voice_band_high_hz = 1000.0;
// The end envelope's error counts this much more than the others': the next frame starts
// from it.
constexpr double end_weight = 2.0;

Biquad butterworth_highpass(double fc) {
    const double k = std::tan(pi * fc / sample_rate);
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    Biquad b;
    b.b0 = norm;
    b.b1 = -2.0 * norm;
    b.b2 = norm;
    b.a1 = 2.0 * (k * k - 1.0) * norm;
    b.a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
    return b;
}

Biquad butterworth_lowpass(double fc) {
    const double k = std::tan(pi * fc / sample_rate);
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    Biquad b;
    b.b0 = k * k * norm;
    b.b1 = 2.0 * b.b0;
    b.b2 = b.b0;
    b.a1 = 2.0 * (k * k - 1.0) * norm;
    b.a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
    return b;
}

}  // namespace

Encoder::Encoder()
    : hp1_(butterworth_highpass(highpass_hz)),
      hp2_(butterworth_highpass(highpass_hz)),
      lp1_(butterworth_lowpass(1000.0)),
      lp2_(butterworth_lowpass(1000.0)) {
    voice_band_.high = butterworth_highpass(voice_band_low_hz);
    voice_band_.low = butterworth_lowpass(voice_band_high_hz);
    for (std::size_t n = 0; n < lpc_window; ++n)
        lpc_window_[n] = 0.54 - 0.46 * std::cos(2.0 * pi * (n + 0.5) / lpc_window);
    energy_window_power_ = 0.0;
    for (std::size_t n = 0; n < energy_window; ++n) {
        energy_window_[n] = 0.5 - 0.5 * std::cos(2.0 * pi * (n + 0.5) / energy_window);
        energy_window_power_ += energy_window_[n] * energy_window_[n];
    }
    for (std::size_t k = 0; k <= lpc_order; ++k) {
        const double a = 2.0 * pi * lag_window_hz * static_cast<double>(k) / sample_rate;
        lag_window_[k] = std::exp(-0.5 * a * a);
    }
    prev_lsf_ = flat_lsf();
    sent_lsf_ = flat_lsf();
}

double Encoder::energy_at(std::size_t centre) const {
    double s = 0.0;
    const std::size_t start = centre - energy_window / 2;
    for (std::size_t n = 0; n < energy_window; ++n) {
        const double v = speech_[start + n] * energy_window_[n];
        s += v * v;
    }
    const double ms = s / energy_window_power_;
    return ms > 1e-14 ? 10.0 * std::log10(ms) : -140.0;
}

Lsf Encoder::lsf_at(std::size_t centre, const Lsf& prev) const {
    std::array<double, lpc_window> w{};
    const std::size_t start = centre - lpc_window / 2;
    for (std::size_t n = 0; n < lpc_window; ++n)
        w[n] = (speech_[start + n] - pre_emphasis * speech_[start + n - 1]) * lpc_window_[n];
    auto r = autocorrelate(w.data(), w.size());
    if (!(r[0] > 1e-10)) return flat_lsf();  // below about -90 dBFS: no envelope worth sending
    r[0] *= noise_floor;
    for (std::size_t k = 1; k <= lpc_order; ++k) r[k] *= lag_window_[k];
    Lpc a{};
    levinson(r, a);
    double g = 1.0;
    for (std::size_t k = 1; k <= lpc_order; ++k) {
        g *= bandwidth_expansion;
        a[k] *= g;
    }
    Lsf lsf = prev;
    if (!lpc_to_lsf(a, lsf)) lsf = prev;
    return lsf;
}

double Encoder::band_correlation(const Band& b, std::size_t centre, double lag) {
    double best = 0.0;
    const auto l0 = static_cast<int>(std::lround(lag));
    for (int l = std::max(l0 - 1, PitchEstimator::shortest_lag);
         l <= std::min(l0 + 1, PitchEstimator::longest_lag); ++l)
        best = std::max(best, PitchEstimator::correlation(b.signal.data(), centre, l));
    return best;
}

FrameIndices Encoder::analyse(const std::int16_t* speech) {
    std::copy(speech_.begin() + frame_samples, speech_.end(), speech_.begin());
    std::copy(lowpass_.begin() + frame_samples, lowpass_.end(), lowpass_.begin());
    auto& band = voice_band_.signal;
    std::copy(band.begin() + frame_samples, band.end(), band.begin());
    for (std::size_t n = 0; n < frame_samples; ++n) {
        const double x = speech[n] / 32768.0;
        const double y = hp2_.step(hp1_.step(x));
        speech_[frame_samples + n] = y;
        lowpass_[frame_samples + n] = lp2_.step(lp1_.step(y));
        band[frame_samples + n] = voice_band_.low.step(voice_band_.high.step(y));
    }

    const std::array<std::size_t, 2> centre = {frame_end - frame_samples / 2, frame_end};
    FrameIndices f;
    for (std::size_t h = 0; h < 2; ++h) last_.energy_db[h] = energy_at(centre[h]);

    // Pitch at both half-frame instants; the frame carries the later voiced one.
    std::array<PitchEstimate, 2> p{};
    double track = prev_lag_;
    for (std::size_t h = 0; h < 2; ++h) {
        p[h] = pitch_.estimate(lowpass_.data(), centre[h], track);
        last_.voicing[h] = p[h].score;
        const bool v = p[h].score >= voicing_threshold && last_.energy_db[h] >= voicing_min_db &&
                       band_correlation(voice_band_, centre[h], p[h].lag) >= band_voicing_threshold;
        f.voiced[h] = v ? 1 : 0;
        track = v ? p[h].lag : 0.0;
    }
    prev_lag_ = track;
    const double lag = f.voiced[1] ? p[1].lag : (f.voiced[0] ? p[0].lag : p[1].lag);
    last_.pitch_hz = sample_rate / lag;

    Lsf prev = prev_lsf_;
    for (std::size_t k = 0; k < points_per_frame; ++k) {
        const std::size_t c = frame_end - frame_samples + hop * (k + 1);
        last_.point_db[k] = energy_at(c);
        last_.point_lsf[k] = lsf_at(c, prev);
        prev = last_.point_lsf[k];
    }
    last_.lsf = last_.point_lsf[points_per_frame - 1];
    prev_lsf_ = last_.lsf;

    for (std::size_t h = 0; h < 2; ++h) f.energy[h] = energy_index(last_.energy_db[h]);
    // The 10 ms and 30 ms energies, against what the decoder would interpolate.
    const std::array<double, 3> sent = {sent_db_, energy_db(f.energy[0]), energy_db(f.energy[1])};
    for (std::size_t h = 0; h < 2; ++h) {
        const double predicted = 20.0 * std::log10(energy_between(sent[h], sent[h + 1], -1));
        const double offset = last_.point_db[2 * h] - predicted;
        f.energy_mid[h] = std::isfinite(predicted) ? energy_mid_index(offset) : 0;
    }
    sent_db_ = sent[2];
    f.pitch = pitch_index(last_.pitch_hz);
    choose_envelopes(f);
    return f;
}

void Encoder::choose_envelopes(FrameIndices& f) {
    // The end envelope from a few near entries per group, judged with the middle envelope it
    // leads to (sent as offsets from what the decoder would interpolate) by the error of
    // all four envelopes the decoder will play.
    const LsfShortlist few = lsf_shortlist(last_.lsf);
    double best = INFINITY;
    Lsf chosen_end{};
    std::array<std::size_t, lsf_groups> pick{};
    for (;;) {
        std::array<int, lsf_groups> idx{};
        for (std::size_t g = 0; g < lsf_groups; ++g) idx[g] = few[g][pick[g]];
        Lsf end = dequantise_lsf(idx);
        repair_lsf(end, lsf_min_gap);
        const auto mid_idx = quantise_lsf_mid(last_.point_lsf[1], sent_lsf_, end);
        Lsf mid = dequantise_lsf_mid(mid_idx, sent_lsf_, end);
        repair_lsf(mid, lsf_min_gap);
        Lsf at_10{}, at_30{};
        for (std::size_t i = 0; i < lpc_order; ++i) {
            at_10[i] = 0.5 * (sent_lsf_[i] + mid[i]);
            at_30[i] = 0.5 * (mid[i] + end[i]);
        }
        const auto& pt = last_.point_lsf;
        const double cost = lsf_distance(pt[0], at_10) + lsf_distance(pt[1], mid) +
                            lsf_distance(pt[2], at_30) + end_weight * lsf_distance(pt[3], end);
        if (cost < best) {
            best = cost;
            f.lsf = idx;
            f.lsf_mid = mid_idx;
            chosen_end = end;
        }
        std::size_t g = 0;
        while (g < lsf_groups && ++pick[g] == lsf_shortlist_size) pick[g++] = 0;
        if (g == lsf_groups) break;
    }
    sent_lsf_ = chosen_end;
}

void Encoder::encode(const std::int16_t* speech, std::uint8_t* bits) {
    pack_frame(analyse(speech), bits);
}

}  // namespace tarpo::codec
