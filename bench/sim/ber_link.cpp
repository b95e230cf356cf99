#include "bench/sim/ber_link.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <numbers>

#include "bench/sim/ber_theory.h"
#include "modem/constants.h"
#include "modem/demodulator.h"
#include "modem/station.h"
#include "voice/test_frame_pattern.h"

namespace tarpo::bench {

std::vector<double> transmit_test_frames(std::size_t frames) {
    auto station = std::make_unique<modem::Station>();
    std::array<char, 81> callsign{};
    std::strcpy(callsign.data(), "NOCALL");
    station->callsign().set_text(callsign.data());

    std::vector<double> signal(frames * modem::block_samples);
    std::array<std::uint8_t, 64> bits{};
    std::array<std::int16_t, modem::block_samples> block{};
    for (std::size_t n = 0; n < frames; ++n) {
        voice::test_frame_bits(n, bits.data());
        station->transmit_block(bits.data(), block.data());
        std::copy(block.begin(), block.end(),
                  signal.begin() + static_cast<std::ptrdiff_t>(n * modem::block_samples));
    }
    return signal;
}

double DoubleDecimator4::decimate4(const double* four) {
    for (int i = 0; i < 4; ++i) line_.push(four[i]);
    return line_.dot(dsp::lowpass30);
}

double ReceiveCounts::tracked_ber() const {
    return tracked_frames > 0
               ? static_cast<double>(tracked_errors) / (54.0 * static_cast<double>(tracked_frames))
               : 0.0;
}

double ReceiveCounts::ber() const {
    return bits() > 0 ? static_cast<double>(bit_errors) / static_cast<double>(bits()) : 0.0;
}

namespace {

// Transmitted frame t; the frames repeat every 511, which gives those before frame 0.
FrameBits54 sent_frame(std::int64_t t) {
    FrameBits54 bits{};
    voice::test_frame_bits(static_cast<std::uint64_t>((t % 511 + 511) % 511), bits.data());
    return bits;
}

int wrong_bits(const FrameBits54& a, const FrameBits54& b) {
    int n = 0;
    for (std::size_t j = 0; j < a.size(); ++j) n += (a[j] & 1) != (b[j] & 1);
    return n;
}

// Counts the transmitted frames of the window that the receiver delivers intact. It follows
// the transmitted index of each received frame, which moves by one frame at each slip or repeat
// of the receiver: an exact match within 20 frames of the expected index, nearest first, moves it
// there. (Two frames less than 511 apart never carry the same 54 bits: the sequence advances 54
// of its 511 bits a frame, and 54 is prime to 511.)
std::uint64_t count_delivered(const std::vector<FrameBits54>& received, const FrameWindow& w,
                              int delay) {
    std::vector<bool> delivered(w.last, false);
    std::int64_t shift = -delay;  // transmitted index minus received index
    for (std::size_t k = 0; k < received.size(); ++k) {
        const std::int64_t expected = static_cast<std::int64_t>(k) + shift;
        for (int step = 0; step <= 40; ++step) {
            const int d = step % 2 == 0 ? step / 2 : -(step + 1) / 2;  // 0, -1, 1, -2, 2, ...
            const std::int64_t t = expected + d;
            if (t < 0 || t >= static_cast<std::int64_t>(w.last)) continue;
            if (wrong_bits(sent_frame(t), received[k]) != 0) continue;
            delivered[static_cast<std::size_t>(t)] = true;
            shift += d;
            break;
        }
    }
    return static_cast<std::uint64_t>(std::count(
        delivered.begin() + static_cast<std::ptrdiff_t>(w.first), delivered.end(), true));
}

// Bit errors of the window's received frames, each against the transmitted frame it carries.
// The transmitted index advances one frame per received frame; where the receiver slipped or
// repeated a frame, the next 5 received frames match another index (within 10 frames) better by
// more than 54 wrong bits of their 270, and the count moves there. At the lowest SNR of the
// sweeps (BER 0.25) the right index gives about 68 +- 7 wrong bits of 270, any other 135 +- 8.
struct Tracked {
    std::uint64_t frames = 0;
    std::uint64_t errors = 0;
};

Tracked count_tracked(const std::vector<FrameBits54>& received, const FrameWindow& w, int delay) {
    Tracked result;
    const auto size = static_cast<std::int64_t>(received.size());
    const auto first = static_cast<std::int64_t>(w.first);
    const std::int64_t end = std::min(size, static_cast<std::int64_t>(w.last) + delay);
    const auto wrong_over = [&](std::int64_t k, std::int64_t t) {
        int wrong = 0;
        for (std::int64_t j = 0; j < 5 && k + j < size; ++j)
            wrong += wrong_bits(received[static_cast<std::size_t>(k + j)], sent_frame(t + j));
        return wrong;
    };
    std::int64_t t = first;
    for (std::int64_t k = first + delay; k < end; ++k, ++t) {
        int errors = wrong_bits(received[static_cast<std::size_t>(k)], sent_frame(t));
        if (errors > 10) {
            const int here = wrong_over(k, t);
            int best = here;
            std::int64_t best_t = t;
            for (std::int64_t u = t - 10; u <= t + 10; ++u) {
                const int wrong = wrong_over(k, u);
                if (wrong < best) {
                    best = wrong;
                    best_t = u;
                }
            }
            if (best < here - 54) {
                t = best_t;
                errors = wrong_bits(received[static_cast<std::size_t>(k)], sent_frame(t));
            }
        }
        ++result.frames;
        result.errors += static_cast<std::uint64_t>(errors);
    }
    return result;
}

}  // namespace

std::vector<FrameBits54> receive_frames(std::span<const double> signal, double freq_hz) {
    auto station = std::make_unique<modem::Station>();
    station->tuning().tune(freq_hz);
    DoubleDecimator4 decimator;
    std::vector<FrameBits54> frames;
    frames.reserve(signal.size() / modem::block_samples + 8);
    for (std::size_t j = 0; j + 4 <= signal.size(); j += 4) {
        if (station->demod_sample(decimator.decimate4(signal.data() + j)) ==
            modem::RxEvent::frame) {
            const auto& bits = station->rx_voice_bits();
            FrameBits54& f = frames.emplace_back();
            std::copy(bits.begin(), bits.begin() + 54, f.begin());
        }
    }
    return frames;
}

ReceiveCounts count_frames(const std::vector<FrameBits54>& received, const FrameWindow& window) {
    ReceiveCounts counts;
    counts.frames_assembled = received.size();
    counts.frames_in_window = window.last - window.first;
    const auto first = static_cast<std::int64_t>(window.first);
    const auto size = static_cast<std::int64_t>(received.size());
    int best = -1;
    int delay = 0;
    for (int d = -10; d <= 30; ++d) {
        if (first + d < 0 || first + d + 20 > size) continue;
        int wrong = 0;
        for (std::int64_t j = 0; j < 20; ++j)
            wrong += wrong_bits(received[static_cast<std::size_t>(first + d + j)],
                                sent_frame(first + j));
        if (best < 0 || wrong < best) {
            best = wrong;
            delay = d;
        }
    }
    if (best < 0) return counts;  // too few frames received
    counts.delay = delay;

    // The checker, shown the three frames before `t`, expects transmitted frame t next.
    voice::TestFrameChecker checker;
    std::uint64_t shown = 0;
    const auto prime = [&](std::int64_t t) {
        for (std::int64_t u = t - 3; u < t; ++u) checker.check_frame(sent_frame(u).data());
        shown += 3;
    };
    prime(first);
    const std::int64_t end = std::min(size, static_cast<std::int64_t>(window.last) + delay);
    std::int64_t expected = first;  // transmitted index of received frame k
    for (std::int64_t k = first + delay; k < end; ++k, ++expected) {
        if (!checker.aligned()) {
            // It dropped its alignment after a slip of the receiver's frames: the genie finds
            // where the received frames now stand (best match of the next 5 within 10 frames
            // of the old place) and shows the checker the frames before, so that it counts on
            // where it would otherwise need 3 frames with at most 5 wrong bits.
            int best_wrong = -1;
            std::int64_t best_t = expected;
            for (std::int64_t t = expected - 10; t <= expected + 10; ++t) {
                int wrong = 0;
                for (std::int64_t j = 0; j < 5 && k + j < size; ++j)
                    wrong +=
                        wrong_bits(received[static_cast<std::size_t>(k + j)], sent_frame(t + j));
                if (best_wrong < 0 || wrong < best_wrong) {
                    best_wrong = wrong;
                    best_t = t;
                }
            }
            expected = best_t;
            prime(expected);
            ++counts.realignments;
        }
        checker.check_frame(received[static_cast<std::size_t>(k)].data());
    }
    counts.frames_counted = checker.frames_counted() - shown;
    counts.bit_errors = checker.bit_errors();
    counts.frames_in_error = checker.frames_in_error();
    counts.frames_delivered = count_delivered(received, window, delay);
    const Tracked tracked = count_tracked(received, window, delay);
    counts.tracked_frames = tracked.frames;
    counts.tracked_errors = tracked.errors;
    return counts;
}

std::vector<TimedFrame> receive_timed(std::span<const double> signal, modem::Receiver receiver,
                                      double freq_hz) {
    auto station = std::make_unique<modem::Station>();
    station->set_receiver(receiver);
    station->tuning().tune(freq_hz);
    DoubleDecimator4 decimator;
    std::vector<TimedFrame> frames;
    frames.reserve(signal.size() / modem::block_samples + 8);
    for (std::size_t j = 0; j + 4 <= signal.size(); j += 4) {
        if (station->demod_sample(decimator.decimate4(signal.data() + j)) != modem::RxEvent::frame)
            continue;
        TimedFrame& f = frames.emplace_back();
        f.sample = j + 4;
        const auto& bits = station->rx_voice_bits();
        std::copy(bits.begin(), bits.begin() + 54, f.bits.begin());
        const auto& llr = station->rx_llr();
        std::copy(llr.begin(), llr.begin() + 54, f.llr.begin());
    }
    return frames;
}

double frame_latency(const std::vector<TimedFrame>& clean_frames) {
    std::vector<double> late;
    for (const TimedFrame& f : clean_frames) {
        const auto near = static_cast<std::int64_t>(f.sample / modem::block_samples);
        for (std::int64_t n = std::max<std::int64_t>(0, near - 30); n <= near; ++n)
            if (wrong_bits(sent_frame(n), f.bits) == 0) {
                late.push_back(static_cast<double>(f.sample) -
                               static_cast<double>((n + 1) * modem::block_samples));
                break;
            }
    }
    if (late.empty()) return 0.0;
    std::nth_element(late.begin(), late.begin() + static_cast<std::ptrdiff_t>(late.size() / 2),
                     late.end());
    return late[late.size() / 2];
}

void LlrBins::add(double llr, bool wrong) {
    const double a = std::abs(llr);
    const auto k = static_cast<std::size_t>(std::min(a, static_cast<double>(count - 1)));
    ++bits[k];
    errors[k] += wrong ? 1 : 0;
    predicted[k] += 1.0 / (1.0 + std::exp(a));
}

double FrameCounts::ber() const {
    return frames_received > 0
               ? static_cast<double>(bit_errors) / (54.0 * static_cast<double>(frames_received))
               : 0.0;
}

double FrameCounts::fer() const {
    if (frames_sent == 0) return 0.0;
    return static_cast<double>(frames_in_error + lost()) / static_cast<double>(frames_sent);
}

namespace {

// The transmitted frame a frame received at `sample` stands for.
std::int64_t frame_at(std::uint64_t sample, double time_scale, double latency) {
    const double t = (static_cast<double>(sample) - latency) / time_scale;
    return static_cast<std::int64_t>(std::floor(t / modem::block_samples + 0.5)) - 1;
}

}  // namespace

double first_intact_seconds(const std::vector<TimedFrame>& received, double time_scale,
                            double latency) {
    for (const TimedFrame& f : received) {
        const std::int64_t n = frame_at(f.sample, time_scale, latency);
        if (n >= 0 && wrong_bits(sent_frame(n), f.bits) == 0)
            return static_cast<double>(f.sample) / 48000.0;
    }
    return -1.0;
}

FrameCounts count_by_time(const std::vector<TimedFrame>& received, const FrameWindow& window,
                          double time_scale, double latency) {
    FrameCounts counts;
    counts.frames_sent = window.last - window.first;
    // Per transmitted frame of the window: the index of the best received frame and its errors.
    std::vector<std::int64_t> best(counts.frames_sent, -1);
    std::vector<int> best_wrong(counts.frames_sent, 55);
    std::uint64_t landed = 0;
    for (std::size_t k = 0; k < received.size(); ++k) {
        const std::int64_t n = frame_at(received[k].sample, time_scale, latency);
        if (n < static_cast<std::int64_t>(window.first) ||
            n >= static_cast<std::int64_t>(window.last))
            continue;
        ++landed;
        const auto slot = static_cast<std::size_t>(n - static_cast<std::int64_t>(window.first));
        const int wrong = wrong_bits(sent_frame(n), received[k].bits);
        if (wrong < best_wrong[slot]) {
            best_wrong[slot] = wrong;
            best[slot] = static_cast<std::int64_t>(k);
        }
    }
    for (std::size_t slot = 0; slot < best.size(); ++slot) {
        if (best[slot] < 0) continue;
        ++counts.frames_received;
        counts.bit_errors += static_cast<std::uint64_t>(best_wrong[slot]);
        counts.frames_in_error += best_wrong[slot] > 0 ? 1 : 0;
        const TimedFrame& f = received[static_cast<std::size_t>(best[slot])];
        const FrameBits54 sent = sent_frame(static_cast<std::int64_t>(window.first + slot));
        for (std::size_t j = 0; j < 54; ++j) counts.llr.add(f.llr[j], f.bits[j] != sent[j]);
    }
    counts.frames_extra = landed - counts.frames_received;
    return counts;
}

double DetectorAnalysis::snr() const {
    double s = 0.0;
    double n = 0.0;
    for (int i = 0; i < modem::carriers; ++i) {
        if (i == modem::pilot_carrier) continue;
        s += signal_power[static_cast<std::size_t>(i)];
        n += noise_power[static_cast<std::size_t>(i)];
    }
    return n > 0.0 ? s / n : INFINITY;
}

double DetectorAnalysis::pilot_share() const {
    double total = 0.0;
    for (double p : signal_power) total += p;
    return total > 0.0 ? signal_power[modem::pilot_carrier] / total : 0.0;
}

double DetectorAnalysis::ms_rest_mean() const {
    double sum = 0.0;
    for (int i = 0; i < modem::carriers; ++i)
        if (i != modem::pilot_carrier) sum += ms_rest[static_cast<std::size_t>(i)];
    return sum / (modem::carriers - 1);
}

double DetectorAnalysis::effective_snr(int i) const {
    const auto c = static_cast<std::size_t>(i);
    const double x = i - modem::pilot_carrier;
    return 1.0 / (noise_power[c] / signal_power[c] + ms_common + ms_b * x * x + ms_rest[c]);
}

double DetectorAnalysis::predicted_ber() const {
    double sum = 0.0;
    for (int i = 0; i < modem::carriers; ++i)
        if (i != modem::pilot_carrier) sum += dqpsk_natural_ber(effective_snr(i));
    return sum / (modem::carriers - 1);
}

namespace {

using Complex = std::complex<double>;

// The decisions' angle: the real part is the y argument.
double decision_angle(Complex z) {
    return std::atan2(z.real(), z.imag());
}

Complex interpolate(const modem::FrontEnd& f, int i, double mu) {
    const auto y = [&](int age) { return f.history(age, i); };
    using modem::FrontEnd;
    return {FrontEnd::interpolate(y(0).real(), y(1).real(), y(2).real(), y(3).real(), mu),
            FrontEnd::interpolate(y(0).imag(), y(1).imag(), y(2).imag(), y(3).imag(), mu)};
}

}  // namespace

DetectorAnalysis analyse_detector(std::span<const double> clean, std::span<const double> noise,
                                  double skip_seconds) {
    auto station = std::make_unique<modem::Station>();
    station->tuning().tune(1500.0);
    auto clean_front = std::make_unique<modem::FrontEnd>(station->tables());
    auto noise_front = std::make_unique<modem::FrontEnd>(station->tables());
    DoubleDecimator4 sum_decimator;
    DoubleDecimator4 clean_decimator;
    DoubleDecimator4 noise_decimator;

    constexpr int n_carriers = modem::carriers;
    DetectorAnalysis result;
    std::array<double, n_carriers> previous_angle{};
    bool have_previous = false;
    const auto skip = static_cast<std::size_t>(skip_seconds * 48000.0);
    const std::size_t length = std::min(clean.size(), noise.size());
    std::array<double, 4> sum{};
    for (std::size_t j = 0; j + 4 <= length; j += 4) {
        for (std::size_t k = 0; k < 4; ++k) sum[k] = clean[j + k] + noise[j + k];
        // The step the receiver uses for this sample; its AFC may change it afterwards.
        const double step = station->tuning().rx_step();
        const auto event = station->demod_sample(sum_decimator.decimate4(sum.data()));
        clean_front->demod_sample(clean_decimator.decimate4(clean.data() + j), step);
        noise_front->demod_sample(noise_decimator.decimate4(noise.data() + j), step);
        if (event == modem::RxEvent::none) continue;

        const double mu = station->front_end().timing_marker() / 400.0 + 0.5;
        std::array<Complex, n_carriers> s{};
        std::array<Complex, n_carriers> n{};
        for (int i = 0; i < n_carriers; ++i) {
            const auto c = static_cast<std::size_t>(i);
            s[c] = interpolate(*clean_front, i, mu);
            n[c] = interpolate(*noise_front, i, mu);
            const Complex z = station->front_end().symbol_sample()[c];
            if (std::abs(z) > 0.0)
                result.max_split_error =
                    std::max(result.max_split_error, std::abs(z - s[c] - n[c]) / std::abs(z));
        }
        std::array<double, n_carriers> angle{};
        for (std::size_t c = 0; c < angle.size(); ++c) angle[c] = decision_angle(s[c]);
        const bool use = j >= skip && have_previous;
        if (use) {
            // Advance error against the nearest quarter turn, rad in [-pi/4, pi/4].
            std::array<double, n_carriers> e{};
            double mean = 0.0;
            double moment = 0.0;
            for (int i = 0; i < n_carriers; ++i) {
                const auto c = static_cast<std::size_t>(i);
                e[c] = std::remainder(angle[c] - previous_angle[c], std::numbers::pi / 2.0);
                mean += e[c] / n_carriers;
                moment += (i - modem::pilot_carrier) * e[c];
            }
            const double slope = moment / 280.0;  // sum of (i - 7)^2 over the carriers
            for (int i = 0; i < n_carriers; ++i) {
                const auto c = static_cast<std::size_t>(i);
                const double r = e[c] - mean - slope * (i - modem::pilot_carrier);
                result.ms_rest[c] += r * r;
            }
            result.ms_common += mean * mean;
            result.ms_b += slope * slope;
            for (std::size_t c = 0; c < s.size(); ++c) {
                result.signal_power[c] += std::norm(s[c]);
                result.noise_power[c] += std::norm(n[c]);
            }
            ++result.symbols;
        }
        previous_angle = angle;
        have_previous = true;
    }
    if (result.symbols > 0) {
        const auto count = static_cast<double>(result.symbols);
        result.ms_common /= count;
        result.ms_b /= count;
        for (double& m : result.ms_rest) m /= count;
        for (double& p : result.signal_power) p /= count;
        for (double& p : result.noise_power) p /= count;
    }
    return result;
}

}  // namespace tarpo::bench
