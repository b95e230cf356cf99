// Two audio workers on the native sound-server backend: one transmits test frames into a
// sink, the other receives them from that sink's monitor, both chosen by the server's stable
// names. Every frame after the receiver has aligned itself must arrive without a bit error.
//
//   pulse_station_check SINK MONITOR OTHER_SINK OTHER_MONITOR SECONDS [SAVED_INDEX]
//
// SAVED_INDEX: the transmitter's output was saved as this list entry with SINK as its name
// (sc.txt and sc_names.txt); it is followed by name to where SINK is listed now, as the
// program does at start, and the new entry is printed.
//
//   pulse_station_check --vanish SINK COMMAND
//
// Plays into SINK, runs COMMAND (which removes the sink) and plays on: every write must come
// back within the stall allowance, the failure must be told once with the device and the
// reason, and a reopen on the vanished sink must fail with its reason. Exit 0 pass, 1 fail.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/device_names.h"
#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "sound/sound_pulse.h"
#include "tests/support/checking_station.h"

namespace {

using namespace tarpo;

using Station = test::CheckingStation<sound::PulseBackend>;

std::vector<std::string> output_ids(const sound::SoundInterface& sound) {
    std::vector<std::string> ids;
    for (int i = 0; i < sound.output_count(); ++i) ids.push_back(sound.output_id(i));
    return ids;
}

class Recorded : public sound::SoundDiagnostics {
  public:
    void print(const char* text) override {
        std::printf("said: %s\n", text);
        texts.emplace_back(text);
    }
    std::vector<std::string> texts;
};

int vanish(const std::string& sink_id, const char* command) {
    sound::PulseBackend backend;
    sound::LoopLibrary loop;
    loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
    Recorded said;
    sound::SoundInterface sound(backend, loop, said);
    sound.init(48000);
    const std::optional<int> sink = sound.find_output(sink_id);
    if (!sink) {
        std::printf("FAIL: %s is not listed\n", sink_id.c_str());
        return 1;
    }
    std::vector<std::int16_t> block(1920, 0);
    sound.select_output(*sink, true);
    sound.start_output(1920);
    for (int k = 0; k < 25; ++k) sound.write_block(block.data());
    bool ok = said.texts.empty();
    if (!ok) std::printf("FAIL: a complaint before the sink went away\n");
    if (std::system(command) != 0) std::printf("note: '%s' failed\n", command);
    double longest = 0;
    for (int k = 0; k < 25; ++k) {
        const auto t0 = std::chrono::steady_clock::now();
        sound.write_block(block.data());
        longest = std::max(
            longest, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("longest write after the sink went away: %.0f ms\n", longest * 1000);
    // The stall allowance is 8 blocks of 40 ms; scheduling may add a little.
    if (longest > 0.5) {
        std::printf("FAIL: a write waited too long\n");
        ok = false;
    }
    auto told = [&said, &sink_id](const std::string& reason) {
        for (const std::string& t : said.texts) {
            if (t.find("'" + sink_id + "'") != std::string::npos &&
                (reason.empty() || t.find(reason) != std::string::npos))
                return true;
        }
        return false;
    };
    if (said.texts.size() != 2 || !told("")) {
        std::printf("FAIL: the loss was not told once, with the device\n");
        ok = false;
    }
    sound.select_output(*sink, true);
    sound.write_block(block.data());
    if (!told("No such entity")) {
        std::printf("FAIL: the reopen did not tell why it failed\n");
        ok = false;
    }
    sound.shutdown();
    std::printf(ok ? "PASS\n" : "FAIL\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--vanish") return vanish(argv[2], argv[3]);
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr,
                     "usage: %s SINK MONITOR OTHER_SINK OTHER_MONITOR SECONDS [SAVED_INDEX]\n",
                     argv[0]);
        return 2;
    }
    const std::string sink_id = argv[1];
    const int seconds = std::atoi(argv[5]);
    Station tx(true);  // sound cards only
    Station rx(true);
    if (!tx.backend.connected() || !rx.backend.connected()) {
        std::printf("FAIL: no sound server answers\n");
        return 1;
    }
    std::optional<int> sink = tx.sound.find_output(sink_id);
    const std::optional<int> monitor = rx.sound.find_input(argv[2]);
    const std::optional<int> other_sink = rx.sound.find_output(argv[3]);
    const std::optional<int> other_monitor = tx.sound.find_input(argv[4]);
    if (argc == 7) {
        const int saved = std::atoi(argv[6]);
        const engine::FollowedDevice found =
            engine::follow_device(saved, sink_id, output_ids(tx.sound));
        std::printf("saved entry %d (%s) is entry %d now%s\n", saved, sink_id.c_str(), found.index,
                    found.gone ? ", gone" : "");
        sink = found.gone ? std::nullopt : std::optional<int>(found.index);
    }
    if (!sink || !monitor || !other_sink || !other_monitor) {
        std::printf("FAIL: the test devices are not all listed\n");
        return 1;
    }
    test::wire_exchange(tx, rx, *sink, *monitor, *other_sink, *other_monitor);
    // 25 frames of 40 ms a second, less the set-up, the silence queued at the output's open,
    // a fresh sink's wake-up and the receiver's acquisition (together up to 2 s on a busy
    // machine): the frames of at least one more second must be counted.
    const bool ok = test::run_exchange(
        tx, rx, seconds, static_cast<unsigned long long>(std::max(seconds - 2, 1)) * 25);
    std::printf(ok ? "PASS\n" : "FAIL\n");
    return ok ? 0 : 1;
}
