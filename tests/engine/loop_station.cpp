// One station of the two-instance test over the SDR loop device: the program's worker with
// the loop device as rx input and tx output, test frames where the codec sits, in the current
// directory (its loop.txt sets the ports).
//
//   loop_station LIBRARY tx SECONDS CALLSIGN
//       transmits test frames with CALLSIGN for SECONDS, keyed through the loop device.
//   loop_station LIBRARY rx SECONDS PTT_PORT CALLSIGN
//       receives for SECONDS; also listens on 127.0.0.1:PTT_PORT for the sender's PTT
//       datagrams. Passes (exit 0) when the callsign arrived, every frame after alignment was
//       free of bit errors, and "PTT 1" came before the first frame and "PTT 0" after the last.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/loop_rig.h"
#include "voice/test_frame_pattern.h"

namespace {

using namespace tarpo;
using Clock = std::chrono::steady_clock;

// Test frames out; on receive, the bit errors of every frame and when it arrived.
class TestFrames final : public voice::SpeechCodec {
  public:
    struct Arrival {
        Clock::time_point time;
        bool counted;  // after alignment
        int errors;
    };
    void ana_init() override {}
    void syn_init() override {}
    void encode(const short*, unsigned char* bits) override { source.encode(nullptr, bits); }
    void decode(const unsigned char* bits, short* speech) override {
        const auto before = checker.frames_counted();
        checker.check_frame(bits);
        // Fixed capacity: no allocation on the worker (the test runs about 150 frames).
        if (count < arrivals.size())
            arrivals[count++] = {Clock::now(), checker.frames_counted() > before,
                                 checker.last_errors()};
        for (int i = 0; i < 320; ++i) speech[i] = 0;
    }
    voice::TestFrameCodec source;
    voice::TestFrameChecker checker;
    std::array<Arrival, 4096> arrivals{};
    std::size_t count = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: loop_station LIBRARY tx SECONDS CALLSIGN | "
                     "LIBRARY rx SECONDS PTT_PORT CALLSIGN\n");
        return 2;
    }
    const std::string library = argv[1];
    const bool transmit = std::strcmp(argv[2], "tx") == 0;
    const int seconds = std::atoi(argv[3]);

    TestFrames codec;
    loop_rig::LoopRig rig(codec);
    if (!rig.open(library)) return 2;

    // The sender's PTT datagrams, as a radio would see them.
    std::mutex ptt_mutex;
    std::vector<std::pair<Clock::time_point, std::string>> ptt_seen;
    std::atomic<bool> listening{!transmit};
    std::thread listener;
    if (!transmit) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[4])));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            std::fprintf(stderr, "cannot listen for PTT\n");
            return 2;
        }
        timeval tv{0, 100000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        listener = std::thread([&, fd] {
            char text[64];
            while (listening) {
                const ssize_t n = recv(fd, text, sizeof text - 1, 0);
                if (n <= 0) continue;
                text[n] = '\0';
                std::lock_guard lock(ptt_mutex);
                ptt_seen.emplace_back(Clock::now(), text);
            }
            close(fd);
        });
    } else {
        rig.transmit(argv[4]);
    }

    rig.start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    if (transmit) {
        // The end of a transmission as the TX button makes it, then the program's shutdown.
        rig.controls().tx_active = 0;
        rig.controls().rx_active = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    if (!rig.stop()) return 1;
    if (transmit) return 0;

    listening = false;
    listener.join();
    char text[80] = {};
    const int length = rig.station().callsign().take_text(text);
    std::string order;
    Clock::time_point on{}, off{};
    for (const auto& [t, what] : ptt_seen) {
        order += what + ";";
        if (what == "PTT 1" && on == Clock::time_point{}) on = t;
        if (what == "PTT 0" && on != Clock::time_point{} && off == Clock::time_point{}) off = t;
    }
    // While the sender was keyed (plus the 300 ms the signal takes through the filters and
    // the sound queues), every counted frame must be free of errors. Before the key there
    // must be no frame; after the unkey the channel is idle and what the receiver makes of
    // it does not count.
    int during = 0, errors = 0, before_key = 0;
    for (std::size_t i = 0; i < codec.count; ++i) {
        const auto& a = codec.arrivals[i];
        if (a.time < on) before_key += a.counted;
        if (a.time < on || a.time > off + std::chrono::milliseconds(300) || !a.counted) continue;
        ++during;
        errors += a.errors;
    }
    std::printf(
        "callsign '%s', frames while keyed %d, their bit errors %d, frames before the "
        "key %d\nPTT datagrams: %s\n",
        length > 0 ? text : "", during, errors, before_key, order.c_str());
    const bool ok = length > 0 && std::strcmp(text, argv[5]) == 0 && during >= 80 && errors == 0 &&
                    before_key == 0 && on != Clock::time_point{} && off > on;
    std::printf(ok ? "PASS\n" : "FAIL\n");
    return ok ? 0 : 1;
}
