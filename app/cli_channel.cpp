// tarpo-cli channel: a clean signal in, what a receiver on an HF path would hear out.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_verbs.h"
#include "app/wavfile.h"
#include "sim/channel.h"

namespace tarpo::app {

namespace {

constexpr int sample_rate = 48000;  // Hz, of the output and of the simulation

constexpr const char* fading_names[] = {"none", "good", "moderate", "poor"};
constexpr sim::Fading fadings[] = {sim::Fading::none, sim::Fading::good, sim::Fading::moderate,
                                   sim::Fading::poor};

constexpr OptionSpec channel_options[] = {
    {"--snr", ValueKind::number, "DB",
     "signal to noise ratio in 3000 Hz, {range} (default: no noise)", -30.0, 100.0, " dB"},
    {"--ebno", ValueKind::number, "DB", "the same per data bit: Eb/N0 = SNR x 3000 / 1400, {range}",
     -30.0, 100.0, " dB"},
    {"--offset", ValueKind::number, "HZ", "frequency shift of the whole signal, {range}", -5000.0,
     5000.0, " Hz"},
    {"--ppm", ValueKind::number, "N", "receiving sound card's clock error, {range}", -50000.0,
     50000.0, " ppm"},
    {"--fading", ValueKind::choice, "P",
     "two-path fading: none, good (0.5 ms, 0.1 Hz), moderate (1 ms, 0.5 Hz),\n"
     "poor (2 ms, 1 Hz)",
     0.0, 0.0, "", fading_names},
    {"--seed", ValueKind::count, "N", "seed of the noise and the fading, {range} (default 1)"},
};

constexpr Synopsis channel_synopses[] = {
    {"[--snr DB | --ebno DB] [--offset HZ] [--ppm N]\n"
     "[--fading none|good|moderate|poor] [--seed N] IN.wav OUT.wav",
     "turn a clean signal into what a receiver on an HF path would hear"},
};

struct Arguments {
    sim::ChannelSettings settings;
    std::string in_path, out_path;
};

// The checks that involve more than one option; prints the problem and returns false.
bool read_arguments(const ParsedOptions& options, Arguments& args) {
    sim::ChannelSettings& s = args.settings;
    if (options.given("--snr")) s.snr_db = options.number("--snr", 0.0);
    s.offset_hz = options.number("--offset", s.offset_hz);
    s.ppm = options.number("--ppm", s.ppm);
    s.seed = options.count("--seed", s.seed);
    if (options.given("--fading"))
        s.fading = fadings[static_cast<std::size_t>(options.choice("--fading", 0))];
    const char* problem = nullptr;
    if (s.snr_db && options.given("--ebno"))
        problem = "give either --snr or --ebno, not both";
    else if (options.files.size() != 2)
        problem = "needs exactly two files, IN.wav and OUT.wav (try --help)";
    if (problem) {
        report_problem(channel_verb, problem);
        return false;
    }
    if (options.given("--ebno")) s.snr_db = sim::snr_from_ebno_db(options.number("--ebno", 0.0));
    args.in_path = options.files[0];
    args.out_path = options.files[1];
    return true;
}

// Rounds to the nearest 16-bit value, saturating at full scale rather than wrapping.
std::int16_t round_sample16(double v, std::size_t& clipped) {
    if (std::isnan(v)) return 0;
    if (v >= 32767.0) {
        ++clipped;
        return 32767;
    }
    if (v <= -32768.0) {
        ++clipped;
        return -32768;
    }
    return static_cast<std::int16_t>(std::lround(v));
}

// Reads the input at the simulation's rate; false after reporting a file that cannot serve.
bool read_input(const std::string& path, std::vector<double>& input) {
    SoundInfo info;
    std::string error;
    if (!read_sound(path, sample_rate, input, info, error)) {
        report_problem(channel_verb, error);
        return false;
    }
    if (input.empty()) {
        report_problem(channel_verb, path + ": the file holds no samples");
        return false;
    }
    for (double v : input)
        if (!std::isfinite(v)) {
            report_problem(channel_verb, path + ": holds samples that are not finite numbers");
            return false;
        }
    if (info.rate != sample_rate || info.channels != 1)
        std::printf("input: %s, %d Hz, %d channel%s; took the first channel at %d Hz\n",
                    info.format.c_str(), info.rate, info.channels, info.channels == 1 ? "" : "s",
                    sample_rate);
    return true;
}

void report(const sim::ChannelSettings& s, const sim::ChannelResult& result, std::size_t clipped) {
    if (s.snr_db)
        std::printf("applied: SNR %.2f dB in 3000 Hz, Eb/N0 %.2f dB\n", *s.snr_db,
                    sim::ebno_from_snr_db(*s.snr_db));
    else
        std::printf("applied: no noise (SNR and Eb/N0 infinite)\n");
    const sim::FadingProfile profile = sim::fading_profile(s.fading);
    std::printf("offset %+.3f Hz, clock %+.1f ppm, fading %s", s.offset_hz, s.ppm,
                sim::fading_name(s.fading));
    if (s.fading != sim::Fading::none)
        std::printf(" (%g ms, %g Hz)", profile.delay_s * 1e3, profile.spread_hz);
    std::printf(", seed %llu\n", static_cast<unsigned long long>(s.seed));
    if (s.snr_db && result.signal_power == 0.0)
        report_problem(channel_verb, "warning: the input is silent, so no noise was added");
    if (clipped > 0)
        report_problem(channel_verb, "warning: " + std::to_string(clipped) +
                                         " samples clipped at 16-bit full scale");
}

}  // namespace

const VerbSpec channel_verb{"channel", channel_synopses, channel_options, Wording::explained};

int cli_channel(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(channel_verb, argc, argv, options)) return *status;
    Arguments args;
    if (!read_arguments(options, args)) return 2;

    std::vector<double> input;
    if (!read_input(args.in_path, input)) return 2;
    const sim::ChannelSettings& s = args.settings;
    sim::ChannelResult result;
    try {
        result = sim::simulate_channel(input, s, sample_rate);
    } catch (const std::exception& e) {
        report_problem(channel_verb, e.what());
        return 1;
    }
    std::vector<std::int16_t> out(result.samples.size());
    std::size_t clipped = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = round_sample16(result.samples[i], clipped);
    std::string error;
    if (!write_wav16(args.out_path, sample_rate, out, error)) {
        report_problem(channel_verb, error);
        return 1;
    }
    report(s, result, clipped);
    return 0;
}

}  // namespace tarpo::app
