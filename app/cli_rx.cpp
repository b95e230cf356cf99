// tarpo-cli rx: demodulates a sound file through the same station objects the program's
// receive loop drives, one 40 ms block and two 20 ms halves at a time.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_args.h"
#include "app/cli_verbs.h"
#include "app/wavfile.h"
#include "modem/numeric.h"
#include "modem/station.h"
#include "modem/test_frames.h"

namespace tarpo::app {

int cli_rx(int argc, char** argv) {
    bool test_frames = false;
    double freq = 1500.0;
    std::string frames_path;
    std::string in_path;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--test-frames") == 0) {
            test_frames = true;
        } else if (std::strcmp(arg, "--freq") == 0) {
            if (!parse_number("rx", arg, next, 500.0, 3000.0, freq)) return 2;
            ++i;
        } else if (std::strcmp(arg, "--frames") == 0) {
            if (!next) {
                std::fprintf(stderr, "tarpo-cli rx: --frames needs a file name\n");
                return 2;
            }
            frames_path = next;
            ++i;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "tarpo-cli rx: unknown option '%s'\n", arg);
            return 2;
        } else if (in_path.empty()) {
            in_path = arg;
        } else {
            std::fprintf(stderr, "tarpo-cli rx: too many files ('%s')\n", arg);
            return 2;
        }
    }
    if (!test_frames) {
        std::fprintf(stderr,
                     "tarpo-cli rx: speech output is not available in this build; "
                     "use --test-frames\n");
        return 2;
    }
    if (in_path.empty()) {
        std::fprintf(stderr, "tarpo-cli rx: no input file given\n");
        return 2;
    }
    std::vector<double> input;
    SoundInfo info;
    std::string error;
    if (!read_sound(in_path, 48000, input, info, error)) {
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

    auto shared = std::make_unique<SharedState>();
    auto station = std::make_unique<modem::Station>(*shared);
    station->modem_init();
    shared->tuned_freq = freq;
    station->set_tuning(freq);
    modem::TestFrameChecker checker;

    std::array<std::int16_t, modem::block_samples> block{};
    std::array<double, modem::block_samples / 4> decimated{};
    const std::size_t blocks = input.size() / modem::block_samples;
    for (std::size_t b = 0; b < blocks; ++b) {
        for (int i = 0; i < modem::block_samples; ++i)
            block[static_cast<std::size_t>(i)] =
                to_sample16(input[b * modem::block_samples + static_cast<std::size_t>(i)]);
        station->decimate_block(block.data(), decimated.data());
        for (double x : decimated) {
            if (station->demod_sample(x) != modem::RxEvent::frame) continue;
            const auto& bits = station->rx_voice_bits();
            checker.check_frame(bits.data());
            if (frames_file) {
                char line[80];
                for (int j = 0; j < 54; ++j)
                    line[j] = static_cast<char>('0' + (bits[static_cast<std::size_t>(j)] & 1));
                line[54] = '\0';
                std::fprintf(frames_file, "%s %d %.4f\n", line, station->last_callsign_dibit(),
                             shared->phase_error.load());
            }
        }
    }
    if (frames_file) std::fclose(frames_file);

    std::array<char, 80> text{};
    const int text_length = station->callsign().callsign_take_text(text.data());
    const double phase_error = shared->phase_error.load();
    const double ber = checker.bits_compared() > 0
                           ? static_cast<double>(checker.bit_errors()) /
                                 static_cast<double>(checker.bits_compared())
                           : 0.0;
    std::printf("frames assembled: %llu\n", static_cast<unsigned long long>(checker.frames_seen()));
    std::printf("bits compared: %llu\n", static_cast<unsigned long long>(checker.bits_compared()));
    std::printf("bit errors: %llu\n", static_cast<unsigned long long>(checker.bit_errors()));
    std::printf("BER: %.6g\n", ber);
    std::printf("callsign: %s\n", text_length > 0 ? text.data() : "");
    std::printf("frequency: %.2f Hz\n", shared->tuned_freq.load());
    std::printf("phase_error: %.4f\n", phase_error);
    std::printf("SNR: %d dB\n", modem::snr_db(phase_error));
    return 0;
}

}  // namespace tarpo::app
