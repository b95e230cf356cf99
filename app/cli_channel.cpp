// tarpo-cli channel: a clean signal in, what a receiver on an HF path would hear out.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/cli_verbs.h"
#include "app/wavfile.h"
#include "sim/channel.h"

namespace tarpo::app {

namespace {

constexpr int sample_rate = 48000;  // Hz, of the output and of the simulation

constexpr const char* channel_usage =
    "usage: tarpo-cli channel [--snr DB | --ebno DB] [--offset HZ] [--ppm N]\n"
    "                         [--fading none|good|moderate|poor] [--seed N] IN.wav OUT.wav\n"
    "  --snr DB      signal to noise ratio in 3000 Hz, -30..100 (default: no noise)\n"
    "  --ebno DB     the same per data bit: Eb/N0 = SNR x 3000 / 1400, -30..100\n"
    "  --offset HZ   frequency shift of the whole signal, -5000..5000\n"
    "  --ppm N       receiving sound card's clock error, -50000..50000\n"
    "  --fading P    two-path fading: none, good (0.5 ms, 0.1 Hz), moderate (1 ms, 0.5 Hz),\n"
    "                poor (2 ms, 1 Hz)\n"
    "  --seed N      seed of the noise and the fading, 0..18446744073709551615 (default 1)\n";

// Thrown for bad usage; the message is the one line shown to the user.
struct UsageError {
    std::string message;
};

double parse_number(const std::string& option, const char* text, double low, double high,
                    const char* unit) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw UsageError{option + " needs a number, not '" + text + "'"};
    if (v < low || v > high) {
        char range[96];
        std::snprintf(range, sizeof range, " must lie between %g and %g%s, not %s", low, high, unit,
                      text);
        throw UsageError{option + range};
    }
    return v;
}

std::uint64_t parse_seed(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || text[0] == '-' || text[0] == '+' ||
        text[0] == ' ')
        throw UsageError{std::string("--seed needs a whole number 0..18446744073709551615, not '") +
                         text + "'"};
    return v;
}

sim::Fading parse_fading(const char* text) {
    for (sim::Fading f :
         {sim::Fading::none, sim::Fading::good, sim::Fading::moderate, sim::Fading::poor})
        if (std::strcmp(text, sim::fading_name(f)) == 0) return f;
    throw UsageError{std::string("--fading must be none, good, moderate or poor, not '") + text +
                     "'"};
}

struct Arguments {
    sim::ChannelSettings settings;
    std::optional<double> ebno_db;
    std::string in_path, out_path;
    bool help = false;
};

Arguments parse_arguments(int argc, char** argv) {
    Arguments args;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            args.help = true;
            return args;
        }
        if (option.size() < 2 || option.compare(0, 2, "--") != 0 || option == "--") {
            files.push_back(option);
            continue;
        }
        // Both "--snr 10" and "--snr=10".
        std::string value_text;
        bool has_value = false;
        if (const auto eq = option.find('='); eq != std::string::npos) {
            value_text = option.substr(eq + 1);
            option.resize(eq);
            has_value = true;
        }
        const bool known = option == "--snr" || option == "--ebno" || option == "--offset" ||
                           option == "--ppm" || option == "--fading" || option == "--seed";
        if (!known) throw UsageError{"unknown option '" + option + "'"};
        if (!has_value) {
            if (i + 1 >= argc) throw UsageError{option + " needs a value"};
            value_text = argv[++i];
        }
        const char* value = value_text.c_str();
        if (option == "--snr") {
            args.settings.snr_db = parse_number(option, value, -30.0, 100.0, " dB");
        } else if (option == "--ebno") {
            args.ebno_db = parse_number(option, value, -30.0, 100.0, " dB");
        } else if (option == "--offset") {
            args.settings.offset_hz = parse_number(option, value, -5000.0, 5000.0, " Hz");
        } else if (option == "--ppm") {
            args.settings.ppm = parse_number(option, value, -50000.0, 50000.0, " ppm");
        } else if (option == "--fading") {
            args.settings.fading = parse_fading(value);
        } else {
            args.settings.seed = parse_seed(value);
        }
    }
    if (args.settings.snr_db && args.ebno_db)
        throw UsageError{"give either --snr or --ebno, not both"};
    if (args.ebno_db) args.settings.snr_db = sim::snr_from_ebno_db(*args.ebno_db);
    if (files.size() != 2)
        throw UsageError{"needs exactly two files, IN.wav and OUT.wav (try --help)"};
    args.in_path = files[0];
    args.out_path = files[1];
    return args;
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

}  // namespace

int cli_channel(int argc, char** argv) {
    Arguments args;
    try {
        args = parse_arguments(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tarpo-cli channel: %s\n", e.message.c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(channel_usage, stdout);
        return 0;
    }

    std::vector<double> input;
    SoundInfo info;
    std::string error;
    if (!read_sound(args.in_path, sample_rate, input, info, error)) {
        std::fprintf(stderr, "tarpo-cli channel: %s\n", error.c_str());
        return 2;
    }
    if (input.empty()) {
        std::fprintf(stderr, "tarpo-cli channel: %s: the file holds no samples\n",
                     args.in_path.c_str());
        return 2;
    }
    for (double v : input)
        if (!std::isfinite(v)) {
            std::fprintf(stderr,
                         "tarpo-cli channel: %s: holds samples that are not finite numbers\n",
                         args.in_path.c_str());
            return 2;
        }
    if (info.rate != sample_rate || info.channels != 1)
        std::printf("input: %s, %d Hz, %d channel%s; took the first channel at %d Hz\n",
                    info.format.c_str(), info.rate, info.channels, info.channels == 1 ? "" : "s",
                    sample_rate);

    const sim::ChannelSettings& s = args.settings;
    sim::ChannelResult result;
    try {
        result = sim::simulate_channel(input, s, sample_rate);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarpo-cli channel: %s\n", e.what());
        return 1;
    }

    std::vector<std::int16_t> out(result.samples.size());
    std::size_t clipped = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = round_sample16(result.samples[i], clipped);
    if (!write_wav16(args.out_path, sample_rate, out, error)) {
        std::fprintf(stderr, "tarpo-cli channel: %s\n", error.c_str());
        return 1;
    }

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
        std::fprintf(stderr,
                     "tarpo-cli channel: warning: the input is silent, so no noise was added\n");
    if (clipped > 0)
        std::fprintf(stderr,
                     "tarpo-cli channel: warning: %zu samples clipped at 16-bit full scale\n",
                     clipped);
    return 0;
}

}  // namespace tarpo::app
