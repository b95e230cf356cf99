#include "sim/channel.h"

#include <samplerate.h>

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

ChannelResult simulate_channel(std::span<const double> input, const ChannelSettings& settings,
                               double rate) {
    if (!(rate >= 8000.0 && rate <= 192000.0))
        throw std::invalid_argument("simulate_channel: rate out of range");
    if (!(std::abs(settings.offset_hz) < rate / 2.0))
        throw std::invalid_argument("simulate_channel: offset out of range");

    ChannelResult result;
    double sum = 0.0;
    for (double x : input) sum += x * x;
    result.signal_power = input.empty() ? 0.0 : sum / static_cast<double>(input.size());

    std::vector<double> x = resample_clock(input, settings.ppm);

    if (settings.fading != Fading::none || settings.offset_hz != 0.0) {
        // The analytic filter delivers sample n - delay for input n: feed `delay` zeros after
        // the end and drop the first `delay` outputs, so that the output lines up with the input.
        auto hilbert = std::make_unique<AnalyticFilter>();
        std::optional<TwoPathChannel> paths;
        if (settings.fading != Fading::none)
            paths.emplace(rate, fading_profile(settings.fading), settings.seed);
        FrequencyShift shift(rate, settings.offset_hz);
        const std::size_t n = x.size();
        for (std::size_t i = 0; i < n + AnalyticFilter::delay; ++i) {
            std::complex<double> a = hilbert->step(i < n ? x[i] : 0.0);
            if (i < AnalyticFilter::delay) continue;
            if (paths) a = paths->step(a);
            if (settings.offset_hz != 0.0) a = shift.step(a);
            x[i - AnalyticFilter::delay] = a.real();
        }
    }

    if (settings.snr_db) {
        result.noise_power = noise_power_for_snr(result.signal_power, *settings.snr_db, rate);
        WhiteNoise noise(std::sqrt(result.noise_power), Rng(settings.seed, 1));
        for (double& v : x) v += noise.step();
    }
    result.samples = std::move(x);
    return result;
}

}  // namespace tarpo::sim
