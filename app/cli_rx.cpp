// tarpo-cli rx: a modem signal in, decoded speech (or a bit-error count of test frames) out,
// through the same block pass as the program's receive loop.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_verbs.h"
#include "app/wavfile.h"
#include "dsp/numeric.h"
#include "engine/display_feed.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "modem/decisions.h"
#include "modem/station.h"
#include "voice/test_frames.h"

namespace tarpo::app {

namespace {

constexpr OptionSpec rx_options[] = {
    {"--freq", ValueKind::number, "HZ", "centre frequency to start at, {range} (default 1500)",
     500.0, 3000.0},
    {"--squelch", ValueKind::whole_number, "N", "squelch level, {range} (default 7)", 0.0, 15.0},
    {"--acquire", ValueKind::flag, "", "search the signal's frequency after the first second"},
    {"--rxid", ValueKind::flag, "", "listen for identification bursts and follow them"},
    {"--test-frames", ValueKind::flag, "", "count the bit errors of the test frames"},
    {"--frames", ValueKind::text, "FILE",
     "write each frame as it was received: 54 bits, callsign dibit, phase error"},
};

constexpr Synopsis rx_synopses[] = {
    {"[--freq HZ] [--squelch 0..15] [--acquire] [--rxid] IN.wav OUT.wav",
     "modem signal in, decoded speech out (48 kHz); withheld frames become silence"},
    {"--test-frames [--freq HZ] [--frames FILE] [--acquire] [--rxid] IN.wav",
     "demodulate a modem signal and count the bit errors of the test frames"},
};

struct RxSettings {
    bool test_frames = false;
    bool acquire = false;
    bool rxid = false;
    double freq = 1500.0;
    double squelch = 7.0;
    std::string frames_path;
    std::string in_path;
    std::string out_path;  // empty with test frames
};

// The checks that involve more than one option; prints the problem and returns false.
bool read_settings(const ParsedOptions& options, RxSettings& s) {
    s.test_frames = options.given("--test-frames");
    s.acquire = options.given("--acquire");
    s.rxid = options.given("--rxid");
    s.freq = options.number("--freq", 1500.0);
    s.squelch = options.number("--squelch", 7.0);
    s.frames_path = options.text("--frames", "");
    const std::size_t wanted = s.test_frames ? 1 : 2;
    if (options.files.size() != wanted) {
        report_problem(rx_verb,
                       s.test_frames ? "give one input file" : "give an input and an output file");
        std::fputs(usage_text(rx_verb).c_str(), stderr);
        return false;
    }
    s.in_path = options.files[0];
    if (!s.test_frames) s.out_path = options.files[1];
    return true;
}

// What the receiver ended with.
struct RxSummary {
    std::array<char, 80> callsign{};  // the received text, "" when none
    double phase_error = 0.0;
    double freq = 0.0;
};

// Collects what the receive pass hands out: decoded speech with silence where the squelch
// withheld a frame (so the output keeps the input's timeline), test-frame counts, RSID.
class FileSink final : public engine::ReceiveSink {
  public:
    FileSink(bool test_frames, std::FILE* frames_file)
        : test_frames_(test_frames), frames_file_(frames_file) {}

    void voice_block(const std::int16_t* block) override {
        ++played;
        if (!test_frames_) speech.insert(speech.end(), block, block + modem::block_samples);
    }
    void voice_withheld() override {
        if (!test_frames_) speech.insert(speech.end(), modem::block_samples, 0);
    }
    void frame_assembled(const modem::Station& station) override {
        ++frames;
        const auto& bits = station.rx_voice_bits();
        if (test_frames_) checker.check_frame(bits.data());
        if (!frames_file_) return;
        char line[55];
        for (int j = 0; j < 54; ++j)
            line[j] = static_cast<char>('0' + (bits[static_cast<std::size_t>(j)] & 1));
        line[54] = '\0';
        std::fprintf(frames_file_, "%s %d %.4f\n", line, station.last_callsign_dibit(),
                     station.phase_error());
    }
    void rsid_detected(double, const char* text) override { std::printf("%s\n", text); }

    std::vector<std::int16_t> speech;
    voice::TestFrameChecker checker;
    std::uint64_t frames = 0;
    std::uint64_t played = 0;

  private:
    bool test_frames_;
    std::FILE* frames_file_;
};

// A ready station set from the command line, receiving, with the display timer's side.
class Receiver {
  public:
    explicit Receiver(const RxSettings& s)
        : ready_(engine::make_station(engine::Voice::speech, s.freq)) {
        ready_->controls.sq_level = static_cast<int>(s.squelch);
        ready_->controls.rxid_on = s.rxid ? 1 : 0;
    }

    // Every whole block of the input through the receive pass.
    void demodulate(const std::vector<double>& input, bool acquire, FileSink& sink) {
        std::array<std::int16_t, modem::block_samples> block{};
        const std::size_t blocks = input.size() / modem::block_samples;
        for (std::size_t b = 0; b < blocks; ++b) {
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = to_sample16(input[b * modem::block_samples + i]);
            ready_->passes.receive_block(block.data(), sink);
            // The display timer, every 150 ms of signal: acquisition is served there. One
            // request after the first second.
            const std::size_t ms = (b + 1) * 40;
            if (acquire && b + 1 == 25) display_.request_acquisition();
            if (ms / 150 != b * 40 / 150) display_.tick(ready_->controls, ready_->monitor);
        }
    }

    // What the receiver ended with, for the report.
    RxSummary summary() {
        RxSummary r;
        const int text_length = ready_->station.callsign().take_text(r.callsign.data());
        if (text_length <= 0) r.callsign[0] = '\0';
        r.phase_error = ready_->station.phase_error();
        r.freq = ready_->station.tuning().frequency();
        return r;
    }

  private:
    std::unique_ptr<engine::ReadyStation> ready_;
    engine::DisplayFeed display_;
};

void report_test_frames(const FileSink& sink, const RxSummary& r) {
    const auto& c = sink.checker;
    const double ber = c.bits_compared() > 0 ? static_cast<double>(c.bit_errors()) /
                                                   static_cast<double>(c.bits_compared())
                                             : 0.0;
    std::printf("frames assembled: %llu\n", static_cast<unsigned long long>(sink.frames));
    std::printf("bits compared: %llu\n", static_cast<unsigned long long>(c.bits_compared()));
    std::printf("bit errors: %llu\n", static_cast<unsigned long long>(c.bit_errors()));
    if (c.bits_compared() > 0)
        std::printf("BER: %.6g\n", ber);
    else
        std::printf("BER: n/a (no frame aligned)\n");
    std::printf("callsign: %s\n", r.callsign.data());
    std::printf("frequency: %.2f Hz\n", r.freq);
    std::printf("phase_error: %.4f\n", r.phase_error);
    std::printf("SNR: %d dB\n", modem::snr_db(r.phase_error));
}

// Writes the decoded speech, as long as the input, and reports; returns the exit status.
int write_speech(const RxSettings& s, FileSink& sink, std::size_t input_length,
                 const RxSummary& r) {
    // The last frames are still inside the filters when the input ends: silence keeps the
    // output as long as the input.
    const std::size_t length = input_length / modem::block_samples * modem::block_samples;
    if (sink.speech.size() < length) sink.speech.resize(length, 0);
    std::string error;
    if (!write_wav16(s.out_path, 48000, sink.speech, error)) {
        report_problem(rx_verb, error);
        return 1;
    }
    std::printf("frames %llu, played %llu, callsign %s, frequency %.2f Hz, SNR %d dB\n",
                static_cast<unsigned long long>(sink.frames),
                static_cast<unsigned long long>(sink.played), r.callsign.data(), r.freq,
                modem::snr_db(r.phase_error));
    return 0;
}

// The frames file, when asked for; false after reporting that it cannot be written.
bool open_frames_file(const RxSettings& s, std::FILE*& file) {
    file = nullptr;
    if (s.frames_path.empty()) return true;
    file = std::fopen(s.frames_path.c_str(), "w");
    if (!file) report_problem(rx_verb, s.frames_path + ": cannot write");
    return file != nullptr;
}

}  // namespace

const VerbSpec rx_verb{"rx", rx_synopses, rx_options};

int cli_rx(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(rx_verb, argc, argv, options)) return *status;
    RxSettings s;
    if (!read_settings(options, s)) return 2;
    std::vector<double> input;
    SoundInfo info;
    std::string error;
    if (!read_sound(s.in_path, 48000, input, info, error)) {
        report_problem(rx_verb, error);
        return 2;
    }
    std::FILE* frames_file = nullptr;
    if (!open_frames_file(s, frames_file)) return 2;

    FileSink sink(s.test_frames, frames_file);
    Receiver receiver(s);
    receiver.demodulate(input, s.acquire, sink);
    if (frames_file) std::fclose(frames_file);
    const RxSummary summary = receiver.summary();
    if (!s.test_frames) return write_speech(s, sink, input.size(), summary);
    report_test_frames(sink, summary);
    return 0;
}

}  // namespace tarpo::app
