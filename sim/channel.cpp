#include "sim/channel.h"

#include <samplerate.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>

#include "sim/analytic.h"

namespace tarpo::sim {

double ebno_from_snr_db(double snr_db) {
    return snr_db + 10.0 * std::log10(snr_bandwidth_hz / data_bit_rate);
}

double snr_from_ebno_db(double ebno_db) {
    return ebno_db - 10.0 * std::log10(snr_bandwidth_hz / data_bit_rate);
}

double noise_power_for_snr(double signal_power, double snr_db, double rate) {
    const double in_3khz = signal_power / std::pow(10.0, snr_db / 10.0);
    return in_3khz * (rate / 2.0) / snr_bandwidth_hz;
}

std::complex<double> FrequencyShift::step(std::complex<double> a) {
    const double phi = 2.0 * std::numbers::pi * cycles_;
    cycles_ += step_;
    cycles_ -= std::floor(cycles_);
    return a * std::complex<double>(std::cos(phi), std::sin(phi));
}

std::vector<double> resample(std::span<const double> input, double ratio) {
    if (input.empty()) return {};
    std::vector<float> in(input.begin(), input.end());
    std::vector<float> out(static_cast<std::size_t>(std::ceil(in.size() * ratio)) + 64);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(in.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    const int rc = src_simple(&data, SRC_SINC_BEST_QUALITY, 1);
    if (rc != 0) throw std::runtime_error(std::string("resampling failed: ") + src_strerror(rc));
    return {out.begin(), out.begin() + data.output_frames_gen};
}

std::vector<double> resample_clock(std::span<const double> input, double ppm) {
    if (ppm == 0.0 || input.empty()) return {input.begin(), input.end()};
    if (!(std::abs(ppm) <= 50000.0))
        throw std::invalid_argument("resample_clock: ppm out of range");
    // libsamplerate works in float: 24-bit mantissas, far below any noise this tool adds.
    return resample(input, 1.0 + ppm * 1e-6);
}

ChannelStream::ChannelStream(const ChannelSettings& settings, double signal_power, double rate)
    : settings_(settings), shift_(rate, settings.offset_hz) {
    if (!(rate >= 8000.0 && rate <= 192000.0))
        throw std::invalid_argument("simulate_channel: rate out of range");
    if (!(std::abs(settings.offset_hz) < rate / 2.0))
        throw std::invalid_argument("simulate_channel: offset out of range");
    if (settings.ppm != 0.0) {
        if (!(std::abs(settings.ppm) <= 50000.0))
            throw std::invalid_argument("resample_clock: ppm out of range");
        // libsamplerate works in float: 24-bit mantissas, far below any noise this tool adds.
        clock_ratio_ = 1.0 + settings.ppm * 1e-6;
        int rc = 0;
        clock_ = src_new(SRC_SINC_BEST_QUALITY, 1, &rc);
        if (!clock_)
            throw std::runtime_error(std::string("resampling failed: ") + src_strerror(rc));
    }
    if (settings.fading != Fading::none || settings.offset_hz != 0.0) {
        hilbert_ = std::make_unique<AnalyticFilter>();
        if (settings.fading != Fading::none)
            paths_.emplace(rate, fading_profile(settings.fading), settings.seed);
    }
    if (settings.snr_db) {
        noise_power_ = noise_power_for_snr(signal_power, *settings.snr_db, rate);
        noise_.emplace(std::sqrt(noise_power_), Rng(settings.seed, 1));
    }
}

ChannelStream::~ChannelStream() {
    if (clock_) src_delete(clock_);
}

// Noise last, after the fading, at the SNR of the mean received power.
void ChannelStream::emit(double v, std::vector<double>& out) {
    out.push_back(noise_ ? v + noise_->step() : v);
}

// The analytic filter delivers sample n - delay for input n: its first `delay` outputs are
// dropped and finish() feeds `delay` zeros, so that the output lines up with the input.
void ChannelStream::filtered(double x, std::vector<double>& out) {
    if (!hilbert_) {
        emit(x, out);
        return;
    }
    std::complex<double> a = hilbert_->step(x);
    if (filter_steps_++ < static_cast<std::size_t>(AnalyticFilter::delay)) return;
    if (paths_) a = paths_->step(a);
    if (settings_.offset_hz != 0.0) a = shift_.step(a);
    emit(a.real(), out);
}

void ChannelStream::resampled(const float* samples, std::size_t n, std::vector<double>& out) {
    for (std::size_t i = 0; i < n; ++i) filtered(samples[i], out);
}

// Through the clock resampler in pieces; the converter's state carries across calls, so the
// pieces give the samples of one conversion of the whole input.
void ChannelStream::convert(const double* input, std::size_t n, bool end,
                            std::vector<double>& out) {
    std::array<float, 4096> in{};
    std::array<float, 4096> converted{};
    std::size_t used = 0;
    while (true) {
        const std::size_t take = std::min(n - used, in.size());
        for (std::size_t i = 0; i < take; ++i) in[i] = static_cast<float>(input[used + i]);
        SRC_DATA data{};
        data.data_in = in.data();
        data.input_frames = static_cast<long>(take);
        data.data_out = converted.data();
        data.output_frames = static_cast<long>(converted.size());
        data.src_ratio = clock_ratio_;
        data.end_of_input = end && used + take == n ? 1 : 0;
        const int rc = src_process(clock_, &data);
        if (rc != 0)
            throw std::runtime_error(std::string("resampling failed: ") + src_strerror(rc));
        used += static_cast<std::size_t>(data.input_frames_used);
        resampled(converted.data(), static_cast<std::size_t>(data.output_frames_gen), out);
        if (used < n) continue;
        if (!end || data.output_frames_gen == 0) break;
    }
}

void ChannelStream::push(std::span<const double> input, std::vector<double>& out) {
    if (input.empty()) return;
    if (clock_) {
        convert(input.data(), input.size(), false, out);
        return;
    }
    for (const double x : input) filtered(x, out);
}

void ChannelStream::finish(std::vector<double>& out) {
    if (clock_) convert(nullptr, 0, true, out);
    if (hilbert_)
        for (int i = 0; i < AnalyticFilter::delay; ++i) filtered(0.0, out);
}

ChannelResult simulate_channel(std::span<const double> input, const ChannelSettings& settings,
                               double rate) {
    ChannelResult result;
    double sum = 0.0;
    for (double x : input) sum += x * x;
    result.signal_power = input.empty() ? 0.0 : sum / static_cast<double>(input.size());
    ChannelStream stream(settings, result.signal_power, rate);
    result.samples.reserve(input.size());
    stream.push(input, result.samples);
    stream.finish(result.samples);
    result.noise_power = stream.noise_power();
    return result;
}

}  // namespace tarpo::sim
