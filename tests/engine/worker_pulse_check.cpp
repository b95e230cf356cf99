// Two audio workers over real sound: one transmits test frames into the null sink "tarpo_a"
// of the private sound server that with_pulseaudio.sh starts, the other receives from that
// sink's monitor. Every frame after the receiver has aligned itself must arrive without a
// bit error, and none may be lost. Prints what it measured; exit 0 pass, 1 fail.
#include <cstdio>
#include <optional>

#include "sound/sound_portaudio.h"
#include "tests/support/checking_station.h"

using Station = tarpo::test::CheckingStation<tarpo::sound::PortAudioBackend>;

int main() {
    Station tx;
    Station rx;
    const std::optional<int> sink = tx.sound.find_output("tarpo_a");
    const std::optional<int> monitor = rx.sound.find_input("tarpo_a_monitor");
    const std::optional<int> other_sink = rx.sound.find_output("tarpo_b");
    const std::optional<int> other_monitor = tx.sound.find_input("tarpo_b_monitor");
    if (!sink || !monitor || !other_sink || !other_monitor) {
        std::printf(
            "FAIL: the test devices tarpo_a, tarpo_a_monitor, tarpo_b, "
            "tarpo_b_monitor are not all listed\n");
        return 1;
    }
    tarpo::test::wire_exchange(tx, rx, *sink, *monitor, *other_sink, *other_monitor);
    // The transmitter sends for about 10 s less its 200 ms set-up, the silent block queued at
    // the output's open and the receiver's start: at least 200 frames of 40 ms must be counted.
    const bool ok = tarpo::test::run_exchange(tx, rx, 10, 200);
    std::printf(ok ? "PASS\n" : "FAIL\n");
    return ok ? 0 : 1;
}
