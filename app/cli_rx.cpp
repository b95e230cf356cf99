// tarpo-cli rx: a modem signal in, decoded speech (or a bit-error count of test frames) out,
// through the same block pass as the program's receive loop.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_verbs.h"
#include "app/output_file.h"
#include "app/wav_writer.h"
#include "dsp/numeric.h"
#include "engine/display_feed.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "modem/callsign.h"
#include "modem/decisions.h"
#include "modem/station.h"
#include "voice/test_frame_pattern.h"

namespace tarpo::app {

namespace {

// "design" is the differential receiver's former name, still taken.
constexpr const char* receiver_names[] = {"differential", "enhanced", "design"};
constexpr int enhanced_choice = 1;

constexpr OptionSpec rx_options[] = {
    {"--receiver", ValueKind::choice, "NAME",
     "enhanced (default): decision feedback with 80 ms of look-ahead, pilot flywheel,\n"
     "wrong-carrier check; differential: the per-carrier differential detector",
     0.0, 0.0, "", receiver_names},
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
    {"[--receiver differential|enhanced] [--freq HZ] [--squelch 0..15]\n[--acquire] [--rxid] "
     "IN.wav OUT.wav",
     "modem signal in, decoded speech out (48 kHz); withheld frames become silence"},
    {"--test-frames [--receiver differential|enhanced] [--freq HZ]\n[--frames FILE] [--acquire] "
     "[--rxid] IN.wav",
     "demodulate a modem signal and count the bit errors of the test frames"},
};

struct RxSettings {
    bool test_frames = false;
    bool acquire = false;
    bool rxid = false;
    bool enhanced = true;
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
    s.enhanced = options.choice("--receiver", enhanced_choice) == enhanced_choice;
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
    std::array<char, modem::CallsignChannel::text_buffer_size>
        callsign{};  // the received text, "" when none
    double phase_error = 0.0;
    double freq = 0.0;
};

// Collects what the receive pass hands out: one 40 ms output block per 40 ms input block
// (the first frame decoded in it, silence where the squelch withheld it or none came), so the
// output keeps the input's timeline; a surplus frame in a block is dropped and counted. Also
// test-frame counts, the --frames lines and RSID.
class FileSink final : public engine::ReceiveSink {
  public:
    FileSink(bool test_frames, OutputFile* frames_file)
        : test_frames_(test_frames), frames_file_(frames_file) {}

    void start_block() {
        block.fill(0);
        has_block_ = false;
    }
    void voice_block(const std::int16_t* samples) override {
        ++played;
        take_block(samples);
    }
    void voice_withheld() override { take_block(nullptr); }
    void frame_assembled(const modem::Station& station) override {
        ++frames;
        const auto& bits = station.rx_voice_bits();
        if (test_frames_) checker.check_frame(bits.data());
        if (!frames_file_ || !frames_error.empty()) return;
        char line[80];
        for (int j = 0; j < 54; ++j)
            line[j] = static_cast<char>('0' + (bits[static_cast<std::size_t>(j)] & 1));
        const int n = std::snprintf(line + 54, sizeof line - 54, " %d %.4f\n",
                                    station.last_callsign_dibit(), station.phase_error());
        frames_file_->write(line, 54 + static_cast<std::size_t>(n), frames_error);
    }
    void rsid_detected(double, const char* text) override { std::printf("%s\n", text); }

    std::array<std::int16_t, modem::block_samples> block{};
    voice::TestFrameChecker checker;
    std::uint64_t frames = 0;
    std::uint64_t played = 0;
    std::uint64_t dropped = 0;
    std::string frames_error;

  private:
    void take_block(const std::int16_t* samples) {
        if (has_block_) {
            ++dropped;
            return;
        }
        has_block_ = true;
        if (samples && !test_frames_) std::copy_n(samples, block.size(), block.begin());
    }
    bool test_frames_;
    OutputFile* frames_file_;
    bool has_block_ = false;
};

// A ready station set from the command line, receiving, with the display timer's side.
class Receiver {
  public:
    explicit Receiver(const RxSettings& s)
        : ready_(engine::make_station(engine::Voice::speech, s.freq)) {
        ready_->controls.sq_level = static_cast<int>(s.squelch);
        ready_->controls.rxid_on = s.rxid ? 1 : 0;
        ready_->controls.enhanced_receiver = s.enhanced ? 1 : 0;
    }

    // The input block by block through the receive pass, one output block per input block
    // into the writer (none with test frames); a last partial block is left out. The exit
    // status after a reported problem, or 0.
    int demodulate(const RxSettings& s, sound::SoundReader& reader, FileSink& sink,
                   WavWriter& writer) {
        std::array<double, modem::block_samples> input{};
        std::array<std::int16_t, modem::block_samples> block{};
        std::string error;
        for (std::size_t b = 0;; ++b) {
            const long got = reader.read(input.data(), static_cast<long>(input.size()), error);
            if (got < 0) return problem(error, 2);
            if (b == 0 && got == 0) return problem(s.in_path + ": the file holds no samples", 2);
            if (got < static_cast<long>(input.size())) return 0;
            for (std::size_t i = 0; i < block.size(); ++i) block[i] = dsp::to_sample16(input[i]);
            sink.start_block();
            ready_->passes.receive_block(block.data(), sink);
            if (!s.test_frames && !writer.write(sink.block.data(), sink.block.size(), error))
                return problem(error, 1);
            // The display timer, every 150 ms of signal: acquisition is served there. One
            // request after the first second.
            const std::size_t ms = (b + 1) * 40;
            if (s.acquire && b + 1 == 25) display_.request_acquisition();
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
    static int problem(const std::string& message, int status) {
        report_problem(rx_verb, message);
        return status;
    }

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

// Completes the decoded speech file and reports; returns the exit status.
int finish_speech(WavWriter& writer, const FileSink& sink, const RxSummary& r) {
    std::string error;
    if (!writer.finish(error)) {
        report_problem(rx_verb, error);
        return 1;
    }
    std::printf(
        "frames %llu, played %llu, surplus dropped %llu, callsign %s, frequency %.2f Hz, SNR %d "
        "dB\n",
        static_cast<unsigned long long>(sink.frames), static_cast<unsigned long long>(sink.played),
        static_cast<unsigned long long>(sink.dropped), r.callsign.data(), r.freq,
        modem::snr_db(r.phase_error));
    return 0;
}

// Opens the input, the frames file (when asked for; never one of the run's own files) and the
// speech output; the exit status after a reported problem, or 0.
int open_files(const RxSettings& s, sound::SoundReader& reader, OutputFile& frames_file,
               WavWriter& writer) {
    std::string error;
    if (!s.frames_path.empty() && !s.out_path.empty() && same_output(s.frames_path, s.out_path)) {
        report_problem(rx_verb, s.frames_path == "-"
                                    ? "--frames - and the output - cannot both be standard output"
                                    : s.frames_path + ": --frames names the output file");
        return 2;
    }
    if (!s.frames_path.empty() && s.frames_path != "-" && same_file(s.frames_path, s.in_path)) {
        report_problem(rx_verb, s.frames_path + ": --frames would overwrite a file of the run");
        return 2;
    }
    int status = 0;
    if (!reader.open(s.in_path, 48000, error))
        status = 2;
    else if (!s.frames_path.empty() && !frames_file.open(s.frames_path, error))
        status = 2;
    else if (!s.test_frames && !writer.open(s.out_path, 48000, error))
        status = 1;
    if (status != 0) report_problem(rx_verb, error);
    return status;
}

}  // namespace

const VerbSpec rx_verb{"rx", rx_synopses, rx_options};

int cli_rx(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(rx_verb, argc, argv, options)) return *status;
    RxSettings s;
    if (!read_settings(options, s)) return 2;
    sound::SoundReader reader;
    OutputFile frames_file;
    WavWriter writer;
    if (const int status = open_files(s, reader, frames_file, writer)) return status;

    FileSink sink(s.test_frames, s.frames_path.empty() ? nullptr : &frames_file);
    Receiver receiver(s);
    if (const int status = receiver.demodulate(s, reader, sink, writer)) return status;
    std::string error;
    if (!sink.frames_error.empty() || (!s.frames_path.empty() && !frames_file.commit(error))) {
        report_problem(rx_verb, sink.frames_error.empty() ? error : sink.frames_error);
        return 1;
    }
    const RxSummary summary = receiver.summary();
    if (!s.test_frames) return finish_speech(writer, sink, summary);
    report_test_frames(sink, summary);
    return 0;
}

}  // namespace tarpo::app
