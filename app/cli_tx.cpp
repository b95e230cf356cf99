// tarpo-cli tx: speech (or test frames) in, modem signal out, through the same block pass as
// the program's transmit loop: encode_block, frame_load, two modulate_symbol.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_verbs.h"
#include "app/wav_writer.h"
#include "dsp/numeric.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "modem/station.h"
#include "voice/test_frame_pattern.h"

namespace tarpo::app {

namespace {

constexpr OptionSpec tx_options[] = {
    {"--callsign", ValueKind::text, "TEXT", "the callsign sent beside the speech (default NOCALL)"},
    {"--freq", ValueKind::number, "HZ", "centre frequency, {range} (default 1500)", 500.0, 3000.0},
    {"--split", ValueKind::flag, "", "send at 1500 Hz whatever the receiver's frequency"},
    {"--alc", ValueKind::flag, "", "level control of the modem signal"},
    {"--txid", ValueKind::flag, "", "send the identification burst first"},
    {"--test-frames", ValueKind::flag, "", "send the test frames instead of speech"},
    {"--seconds", ValueKind::number, "N", "how long, with --test-frames: {range} s", 0.04, 3600.0},
};

constexpr Synopsis tx_synopses[] = {
    {"[--callsign TEXT] [--freq HZ] [--split] [--alc] [--txid] IN.wav OUT.wav",
     "speech in (any rate), modem signal out (48 kHz mono 16-bit)"},
    {"--test-frames --seconds N [options] OUT.wav",
     "N seconds of modem signal carrying the test frames"},
};

int write_failed(const std::string& error) {
    report_problem(tx_verb, error);
    return 1;
}

struct TxSettings {
    bool test_frames = false;
    bool split = false;
    bool alc = false;
    bool txid = false;
    double seconds = -1.0;
    double freq = 1500.0;
    std::string callsign;
    std::string in_path;  // empty with test frames
    std::string out_path;
};

// The checks that involve more than one option; prints the problem and returns false.
bool read_settings(const ParsedOptions& options, TxSettings& s) {
    s.test_frames = options.given("--test-frames");
    s.split = options.given("--split");
    s.alc = options.given("--alc");
    s.txid = options.given("--txid");
    s.seconds = options.number("--seconds", -1.0);
    s.freq = options.number("--freq", 1500.0);
    s.callsign = options.text("--callsign", "NOCALL");
    const std::size_t wanted = s.test_frames ? 1 : 2;
    const char* problem = nullptr;
    if (options.files.size() != wanted)
        problem = s.test_frames ? "give one output file" : "give an input and an output file";
    else if (s.test_frames && s.seconds < 0)
        problem = "--test-frames needs --seconds N";
    else if (!s.test_frames && s.seconds >= 0)
        problem = "--seconds goes with --test-frames";
    if (problem) {
        const bool with_usage = options.files.size() != wanted;
        report_problem(tx_verb, problem);
        if (with_usage) std::fputs(usage_text(tx_verb).c_str(), stderr);
        return false;
    }
    if (!s.test_frames) s.in_path = options.files[0];
    s.out_path = options.files.back();
    return true;
}

// A ready station set from the command line, transmitting.
class Transmitter {
  public:
    explicit Transmitter(const TxSettings& s)
        : ready_(engine::make_station(s.test_frames ? engine::Voice::test_frames
                                                    : engine::Voice::speech)) {
        ready_->controls.split_on = s.split ? 1 : 0;
        ready_->controls.alc_on = s.alc ? 1 : 0;
        ready_->tune(s.freq);
        std::strncpy(callsign_.data(), s.callsign.c_str(), callsign_.size() - 1);
        ready_->station.callsign().set_text(callsign_.data());
    }

    // The identification burst, then the speech block by block (the last partial block filled
    // with silence) or the test frames, into the writer. The number of blocks, or minus the
    // exit status after a reported problem.
    long run(const TxSettings& s, sound::SoundReader& reader, WavWriter& writer) {
        std::array<std::int16_t, modem::block_samples> block{};
        std::string error;
        if (s.txid) {
            ready_->passes.start_txid();
            while (ready_->passes.next_txid_block(block.data()))
                if (!writer.write(block.data(), block.size(), error)) return -write_failed(error);
        }
        const auto test_blocks = static_cast<long>(s.seconds * 25.0 + 0.5);
        long blocks = 0;
        for (;; ++blocks) {
            if (s.test_frames && blocks == test_blocks) break;
            if (!s.test_frames) {
                const long got = next_speech(reader, blocks == 0, s.in_path);
                if (got < 0) return -2;
                if (got == 0) break;
            }
            for (std::size_t i = 0; i < block.size(); ++i) block[i] = dsp::to_sample16(speech_[i]);
            const std::int16_t* out = ready_->passes.transmit_block(block.data(), false);
            if (!writer.write(out, modem::block_samples, error)) return -write_failed(error);
        }
        return blocks;
    }

    const char* callsign() const { return callsign_.data(); }

  private:
    // One block of speech into speech_, padded with silence; the count read, 0 at the end, or
    // -1 after a reported problem (a read error, or an input without samples).
    long next_speech(sound::SoundReader& reader, bool first, const std::string& path) {
        std::string error;
        const long got = reader.read(speech_.data(), static_cast<long>(speech_.size()), error);
        if (got < 0) {
            report_problem(tx_verb, error);
            return -1;
        }
        if (got == 0 && first) {
            report_problem(tx_verb, path + ": the file holds no samples");
            return -1;
        }
        std::fill(speech_.begin() + got, speech_.end(), 0.0);
        return got;
    }

    std::unique_ptr<engine::ReadyStation> ready_;
    std::array<char, 81> callsign_{};
    std::array<double, modem::block_samples> speech_{};
};

}  // namespace

const VerbSpec tx_verb{"tx", tx_synopses, tx_options};

int cli_tx(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(tx_verb, argc, argv, options)) return *status;
    TxSettings s;
    if (!read_settings(options, s)) return 2;

    sound::SoundReader reader;
    std::string error;
    if (!s.test_frames && !reader.open(s.in_path, 48000, error)) {
        report_problem(tx_verb, error);
        return 2;
    }
    WavWriter writer;
    if (!writer.open(s.out_path, 48000, error)) {
        report_problem(tx_verb, error);
        return 1;
    }
    Transmitter transmitter(s);
    const long blocks = transmitter.run(s, reader, writer);
    if (blocks < 0) return -static_cast<int>(blocks);
    const double written = static_cast<double>(writer.samples_written()) / 48000.0;
    if (!writer.finish(error)) return write_failed(error);
    std::printf("wrote %ld frames (%.2f s%s) at %.2f Hz, callsign %s\n", blocks, written,
                s.txid ? " with RSID" : "", s.split ? 1500.0 : s.freq, transmitter.callsign());
    return 0;
}

}  // namespace tarpo::app
