// tarpo-cli rx: a modem signal in, decoded speech (or a bit-error count of test frames) out,
// through the same block pass as the program's receive loop.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_args.h"
#include "app/cli_verbs.h"
#include "app/wavfile.h"
#include "dsp/numeric.h"
#include "engine/display_feed.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "modem/acquisition.h"
#include "modem/decisions.h"
#include "modem/station.h"
#include "voice/test_frames.h"

namespace tarpo::app {

namespace {

constexpr const char* rx_usage =
    "usage: tarpo-cli rx [--freq HZ] [--squelch 0..15] [--acquire] [--rxid] IN.wav OUT.wav\n"
    "       tarpo-cli rx --test-frames [--freq HZ] [--frames FILE] [--acquire] [--rxid] IN.wav\n";

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

}  // namespace

int cli_rx(int argc, char** argv) {
    bool test_frames = false;
    bool acquire = false;
    bool rxid = false;
    double freq = 1500.0;
    double squelch = 7.0;
    std::string frames_path;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--test-frames") == 0) {
            test_frames = true;
        } else if (std::strcmp(arg, "--acquire") == 0) {
            acquire = true;
        } else if (std::strcmp(arg, "--rxid") == 0) {
            rxid = true;
        } else if (std::strcmp(arg, "--freq") == 0) {
            if (!parse_number("rx", arg, next, 500.0, 3000.0, freq)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--squelch") == 0) {
            if (!parse_number("rx", arg, next, 0.0, 15.0, squelch)) return 2;
            if (squelch != std::floor(squelch)) {
                std::fprintf(stderr, "tarpo-cli rx: --squelch takes a whole number 0..15\n");
                return 2;
            }
            ++i;
        } else if (std::strcmp(arg, "--frames") == 0) {
            if (!parse_text("rx", arg, next, frames_path)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--help") == 0) {
            std::fputs(rx_usage, stdout);
            return 0;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "tarpo-cli rx: unknown option '%s'\n", arg);
            return 2;
        } else {
            files.emplace_back(arg);
        }
    }
    const std::size_t wanted = test_frames ? 1 : 2;
    if (files.size() != wanted) {
        std::fprintf(stderr, "tarpo-cli rx: %s\n%s",
                     test_frames ? "give one input file" : "give an input and an output file",
                     rx_usage);
        return 2;
    }
    std::vector<double> input;
    SoundInfo info;
    std::string error;
    if (!read_sound(files[0], 48000, input, info, error)) {
        std::fprintf(stderr, "tarpo-cli rx: %s\n", error.c_str());
        return 2;
    }
    std::FILE* frames_file = nullptr;
    if (!frames_path.empty()) {
        frames_file = std::fopen(frames_path.c_str(), "w");
        if (!frames_file) {
            std::fprintf(stderr, "tarpo-cli rx: %s: cannot write\n", frames_path.c_str());
            return 2;
        }
    }

    auto ready = engine::make_station(engine::Voice::speech, freq);
    engine::DisplayFeed display;
    ready->controls.sq_level = static_cast<int>(squelch);
    ready->controls.rxid_on = rxid ? 1 : 0;

    FileSink sink(test_frames, frames_file);
    std::array<std::int16_t, modem::block_samples> block{};
    const std::size_t blocks = input.size() / modem::block_samples;
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = to_sample16(input[b * modem::block_samples + i]);
        ready->passes.receive_block(block.data(), sink);
        // The display timer, every 150 ms of signal: acquisition is served there. One
        // request after the first second.
        const std::size_t ms = (b + 1) * 40;
        if (acquire && b + 1 == 25) display.request_acquisition();
        if (ms / 150 != b * 40 / 150) display.tick(ready->controls, ready->monitor);
    }
    if (frames_file) std::fclose(frames_file);

    std::array<char, 80> text{};
    const int text_length = ready->station.callsign().take_text(text.data());
    const char* callsign = text_length > 0 ? text.data() : "";
    const double phase_error = ready->station.phase_error();
    const double final_freq = ready->station.tuning().frequency();
    if (test_frames) {
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
        std::printf("callsign: %s\n", callsign);
        std::printf("frequency: %.2f Hz\n", final_freq);
        std::printf("phase_error: %.4f\n", phase_error);
        std::printf("SNR: %d dB\n", modem::snr_db(phase_error));
        return 0;
    }
    // The last frames are still inside the filters when the input ends: silence keeps the
    // output as long as the input.
    if (sink.speech.size() < blocks * modem::block_samples)
        sink.speech.resize(blocks * modem::block_samples, 0);
    if (!write_wav16(files[1], 48000, sink.speech, error)) {
        std::fprintf(stderr, "tarpo-cli rx: %s\n", error.c_str());
        return 1;
    }
    std::printf("frames %llu, played %llu, callsign %s, frequency %.2f Hz, SNR %d dB\n",
                static_cast<unsigned long long>(sink.frames),
                static_cast<unsigned long long>(sink.played), callsign, final_freq,
                modem::snr_db(phase_error));
    return 0;
}

}  // namespace tarpo::app
