// What the callsign field shows at the start of an over: noise alone, then an over of test
// frames with the callsign DL1AB, entered at a random point of its cycle, through white noise
// at each SNR. For the field as it was (the decoder's last text at every meter tick with the
// squelch open) and for the confirmed callsign: the overs that showed anything but DL1AB, and
// the mean time from the over's start to DL1AB.
//   callsign_bench [OVERS]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/ready_station.h"
#include "sim/channel.h"
#include "sim/rng.h"

namespace {

using namespace tarpo;

constexpr int noise_blocks = 50;  // 2 s
constexpr int over_blocks = 250;  // 10 s
constexpr int meter_blocks = 19;  // the meters' 750 ms
constexpr char truth[] = "DL1AB";

struct Nothing : engine::ReceiveSink {
    void voice_block(const std::int16_t*) override {}
};

struct Shown {
    bool wrong = false;
    int first_right = -1;  // block of the over, -1 never
    void see(const std::string& text, int block) {
        if (text.empty()) return;
        if (text != truth)
            wrong = true;
        else if (first_right < 0)
            first_right = block;
    }
};

void one_over(double snr_db, std::uint64_t seed, Shown& old_field, Shown& confirmed) {
    sim::Rng rng(seed);
    auto tx = engine::make_station(engine::Voice::test_frames, 1500.0);
    auto rx = engine::make_station(engine::Voice::test_frames, 1500.0);
    rx->controls.enhanced_receiver = 1;
    rx->controls.sq_level = 7;
    char call[81] = "DL1AB";
    tx->station.callsign().set_text(call);
    std::array<std::int16_t, 1920> mic{};
    const int lead = static_cast<int>(rng.next() % 25);
    for (int f = 0; f < lead; ++f) tx->passes.transmit_block(mic.data(), false);
    std::vector<std::array<std::int16_t, 1920>> over(over_blocks);
    double power = 0.0;
    for (auto& block : over) {
        const std::int16_t* out = tx->passes.transmit_block(mic.data(), false);
        std::copy(out, out + 1920, block.begin());
        for (const std::int16_t v : block) power += double(v) * v;
    }
    power /= 1920.0 * over_blocks;
    sim::WhiteNoise noise(std::sqrt(sim::noise_power_for_snr(power, snr_db, 48000.0)), rng);
    Nothing sink;
    for (int b = 0; b < noise_blocks + over_blocks; ++b) {
        std::array<std::int16_t, 1920> in{};
        for (std::size_t i = 0; i < in.size(); ++i) {
            const double s =
                b < noise_blocks ? 0.0 : over[static_cast<std::size_t>(b - noise_blocks)][i];
            in[i] = static_cast<std::int16_t>(
                std::lround(std::clamp(s + noise.step(), -32768.0, 32767.0)));
        }
        rx->passes.receive_block(in.data(), sink);
        if ((b + 1) % meter_blocks != 0) continue;
        const int at = b - noise_blocks;
        char text[81] = {};
        if (rx->monitor.squelch_open.load() == 1 && rx->station.callsign().take_text(text) > 0)
            old_field.see(text, at);
        char confirmed_text[81] = {};
        if (rx->passes.callsign_rule().take_text(confirmed_text) > 0)
            confirmed.see(confirmed_text, at);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int overs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    std::printf("%d overs per SNR, 2 s of noise then 10 s of signal, enhanced receiver\n", overs);
    std::printf("%7s  %28s  %28s\n", "", "decoder's last text (before)",
                "confirmed callsign (now)");
    std::printf("%7s  %13s %14s  %13s %14s\n", "SNR dB", "wrong shown", "to DL1AB, s",
                "wrong shown", "to DL1AB, s");
    for (const double snr : {10.0, 15.0, 20.0, 25.0, 30.0}) {
        int wrong[2] = {0, 0};
        int reached[2] = {0, 0};
        double seconds[2] = {0.0, 0.0};
        for (int o = 0; o < overs; ++o) {
            Shown shown[2];
            one_over(snr, 1000 + static_cast<std::uint64_t>(o), shown[0], shown[1]);
            for (int k = 0; k < 2; ++k) {
                wrong[k] += shown[k].wrong ? 1 : 0;
                if (shown[k].first_right >= 0) {
                    ++reached[k];
                    seconds[k] += 0.04 * (shown[k].first_right + 1);
                }
            }
        }
        std::printf("%7.0f", snr);
        for (int k = 0; k < 2; ++k)
            std::printf("  %6d of %3d %8.2f (%2d)", wrong[k], overs,
                        reached[k] ? seconds[k] / reached[k] : 0.0, reached[k]);
        std::printf("\n");
    }
    return 0;
}
