// tarpo-cli channel: a clean signal in, what a receiver on an HF path would hear out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_verbs.h"
#include "app/wav_writer.h"
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

// Where the second pass reads the input again: the file itself, or for standard input and
// other streams, which cannot be read twice, an unlinked temporary that the first pass fills
// with the samples as read (floats: the reader's samples are floats times 32768, so nothing
// is lost), gone whatever way the process ends.
class Spool {
  public:
    Spool() = default;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    ~Spool() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(std::string& error) {
        const char* dir = std::getenv("TMPDIR");
        std::string where = dir && *dir ? dir : "/tmp";
        fd_ = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            std::string name = where + "/tarpo-channel.XXXXXX";
            fd_ = ::mkstemp(name.data());
            if (fd_ >= 0) ::unlink(name.c_str());
        }
        if (fd_ < 0) return fail("cannot make a temporary file in " + where, error);
        return true;
    }
    bool write(const double* samples, std::size_t n, std::string& error) {
        for (std::size_t i = 0; i < n; ++i) {
            buffer_[used_++] = static_cast<float>(samples[i]);
            if (used_ == buffer_.size() && !flush(error)) return false;
        }
        return true;
    }
    bool rewind(std::string& error) {
        if (!flush(error)) return false;
        if (::lseek(fd_, 0, SEEK_SET) != 0) return fail("cannot read the temporary file", error);
        return true;
    }
    // Up to n samples; the count (0 at the end), or -1.
    long read(double* out, long n, std::string& error) {
        const std::size_t want = std::min(static_cast<std::size_t>(n), buffer_.size());
        std::size_t bytes = 0;
        auto* to = reinterpret_cast<char*>(buffer_.data());
        while (bytes < want * sizeof(float)) {
            const ssize_t got = ::read(fd_, to + bytes, want * sizeof(float) - bytes);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                fail("cannot read the temporary file", error);
                return -1;
            }
            if (got == 0) break;
            bytes += static_cast<std::size_t>(got);
        }
        const std::size_t count = bytes / sizeof(float);
        for (std::size_t i = 0; i < count; ++i) out[i] = buffer_[i];
        return static_cast<long>(count);
    }

  private:
    bool flush(std::string& error) {
        const auto* from = reinterpret_cast<const char*>(buffer_.data());
        std::size_t done = 0;
        while (done < used_ * sizeof(float)) {
            const ssize_t n = ::write(fd_, from + done, used_ * sizeof(float) - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return fail("cannot keep the input for the second pass", error);
            done += static_cast<std::size_t>(n);
        }
        used_ = 0;
        return true;
    }
    bool fail(const std::string& what, std::string& error) {
        error = what + (errno == EFBIG ? ": file size limit reached"
                        : errno        ? std::string(": ") + std::strerror(errno)
                                       : "");
        return false;
    }

    int fd_ = -1;
    std::array<float, 8192> buffer_{};
    std::size_t used_ = 0;
};

// Whether the input can be read twice: a regular file (or a link to one).
bool readable_twice(const std::string& path) {
    struct stat st {};
    return path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The first pass: the input's mean power (and, for a stream, its samples into the spool).
// The exit status after a reported problem, or 0.
int first_pass(const std::string& path, Spool* spool, double& signal_power) {
    sound::SoundReader reader;
    std::string error;
    if (!reader.open(path, sample_rate, error)) {
        report_problem(channel_verb, error);
        return 2;
    }
    if (spool && !spool->open(error)) {
        report_problem(channel_verb, error);
        return 1;
    }
    std::array<double, 8192> piece{};
    double sum = 0.0;
    std::uint64_t count = 0;
    while (true) {
        const long n = reader.read(piece.data(), static_cast<long>(piece.size()), error);
        if (n < 0) {
            report_problem(channel_verb, error);
            return 2;
        }
        if (n == 0) break;
        for (long i = 0; i < n; ++i)
            sum += piece[static_cast<std::size_t>(i)] * piece[static_cast<std::size_t>(i)];
        count += static_cast<std::uint64_t>(n);
        if (spool && !spool->write(piece.data(), static_cast<std::size_t>(n), error)) {
            report_problem(channel_verb, error);
            return 1;
        }
    }
    if (spool && !spool->rewind(error)) {
        report_problem(channel_verb, error);
        return 1;
    }
    signal_power = count ? sum / static_cast<double>(count) : 0.0;
    const SoundInfo& info = reader.info();
    if (info.rate != sample_rate || info.channels != 1)
        std::printf("input: %s, %d Hz, %d channel%s; took the first channel at %d Hz\n",
                    info.format.c_str(), info.rate, info.channels, info.channels == 1 ? "" : "s",
                    sample_rate);
    return 0;
}

// Rounds the channel's output into the writer; false with `error` set.
bool write_rounded(WavWriter& writer, std::vector<double>& samples, std::size_t& clipped,
                   std::string& error) {
    std::array<std::int16_t, 4096> pcm{};
    std::size_t at = 0;
    while (at < samples.size()) {
        const std::size_t take = std::min(pcm.size(), samples.size() - at);
        for (std::size_t i = 0; i < take; ++i) pcm[i] = round_sample16(samples[at + i], clipped);
        if (!writer.write(pcm.data(), take, error)) return false;
        at += take;
    }
    samples.clear();
    return true;
}

// The second pass: the input again through the channel into the output. The exit status.
int second_pass(const Arguments& args, Spool* spool, sim::ChannelStream& channel,
                std::size_t& clipped) {
    sound::SoundReader reader;
    std::string error;
    if (!spool && !reader.open(args.in_path, sample_rate, error)) {
        report_problem(channel_verb, error);
        return 2;
    }
    WavWriter writer;
    if (!writer.open(args.out_path, sample_rate, error)) {
        report_problem(channel_verb, error);
        return 1;
    }
    std::array<double, 8192> piece{};
    std::vector<double> out;
    out.reserve(2 * piece.size());
    while (true) {
        const long n = spool ? spool->read(piece.data(), static_cast<long>(piece.size()), error)
                             : reader.read(piece.data(), static_cast<long>(piece.size()), error);
        if (n < 0) {
            report_problem(channel_verb, error);
            return 2;
        }
        if (n == 0) break;
        channel.push(std::span<const double>(piece.data(), static_cast<std::size_t>(n)), out);
        if (!write_rounded(writer, out, clipped, error)) {
            report_problem(channel_verb, error);
            return 1;
        }
    }
    channel.finish(out);
    if (!write_rounded(writer, out, clipped, error) || !writer.finish(error)) {
        report_problem(channel_verb, error);
        return 1;
    }
    return 0;
}

void report(const sim::ChannelSettings& s, double signal_power, std::size_t clipped) {
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
    if (s.snr_db && signal_power == 0.0)
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

    // Two passes over the input, so that memory does not grow with it: the mean power sets
    // the noise, then the channel runs.
    std::optional<Spool> spool;
    if (!readable_twice(args.in_path)) spool.emplace();
    Spool* kept = spool ? &*spool : nullptr;
    double signal_power = 0.0;
    if (const int status = first_pass(args.in_path, kept, signal_power)) return status;
    const sim::ChannelSettings& s = args.settings;
    std::size_t clipped = 0;
    try {
        sim::ChannelStream channel(s, signal_power, sample_rate);
        if (const int status = second_pass(args, kept, channel, clipped)) return status;
    } catch (const std::exception& e) {
        report_problem(channel_verb, e.what());
        return 1;
    }
    report(s, signal_power, clipped);
    return 0;
}

}  // namespace tarpo::app
