// Speed of the modem chains, single-threaded: seconds of audio processed per CPU second.
//   modem_bench [SECONDS_OF_AUDIO]
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "modem/station.h"
#include "voice/test_frame_pattern.h"

namespace {

double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarpo;
    const double audio_seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    const auto blocks = static_cast<std::size_t>(audio_seconds * 25.0);
    auto tx = std::make_unique<modem::Station>();
    std::vector<std::int16_t> signal(blocks * modem::block_samples);
    std::array<std::uint8_t, 64> voice{};

    // Transmit chain: frame_load and two modulate_symbol per 40 ms block.
    double start = cpu_seconds();
    for (std::size_t n = 0; n < blocks; ++n) {
        voice::test_frame_bits(n, voice.data());
        tx->transmit_block(voice.data(), signal.data() + n * modem::block_samples);
    }
    const double tx_cpu = cpu_seconds() - start;

    // Receive chain, each receiver: decimate4 and demod_sample (with decisions and frame
    // assembly) per block.
    const auto receive = [&](modem::Receiver receiver, std::size_t& frames) {
        auto rx = std::make_unique<modem::Station>();
        rx->set_receiver(receiver);
        std::array<double, 480> decimated{};
        frames = 0;
        const double t0 = cpu_seconds();
        for (std::size_t n = 0; n < blocks; ++n) {
            rx->decimate_block(signal.data() + n * modem::block_samples, decimated.data());
            for (double x : decimated) frames += rx->demod_sample(x) == modem::RxEvent::frame;
        }
        return cpu_seconds() - t0;
    };
    std::size_t frames = 0;
    std::size_t enhanced_frames = 0;
    const double rx_cpu = receive(modem::Receiver::differential, frames);
    const double enhanced_cpu = receive(modem::Receiver::enhanced, enhanced_frames);

    const double audio = static_cast<double>(blocks) * 0.04;
    std::printf("audio processed: %.0f s per chain (%zu blocks, %zu frames received)\n", audio,
                blocks, frames);
    std::printf("transmit chain: %.3f CPU s, %.0f s of audio per CPU second, %.1f us per block\n",
                tx_cpu, audio / tx_cpu, tx_cpu / static_cast<double>(blocks) * 1e6);
    std::printf(
        "receive chain, differential receiver:  %.3f CPU s, %.0f s of audio per CPU second, "
        "%.1f us per block\n",
        rx_cpu, audio / rx_cpu, rx_cpu / static_cast<double>(blocks) * 1e6);
    std::printf(
        "receive chain, enhanced receiver:  %.3f CPU s, %.0f s of audio per CPU second, "
        "%.1f us per block (%zu frames)\n",
        enhanced_cpu, audio / enhanced_cpu, enhanced_cpu / static_cast<double>(blocks) * 1e6,
        enhanced_frames);
    return 0;
}
