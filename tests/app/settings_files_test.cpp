// Settings files that are not files (a FIFO blocks an open until a writer comes) count as
// missing, and a loop.txt that is not understood is said once, with what is used instead.
#include "engine/settings_files.h"

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>

#include "hostile.h"
#include "loop/loop_config.h"
#include "ptt/ptt.h"
#include "sound/loop_library.h"
#include "tests/support/serial_fake.h"

namespace {

using namespace hostile;

// Runs `check` in a child process; true when it returns true within two seconds (a blocked
// open cannot be interrupted from inside).
bool passes_in_time(const std::function<bool()>& check) {
    const pid_t child = fork();
    if (child == 0) _exit(check() ? 0 : 1);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return false;
}

struct NotLoop : tarpo::sound::LoopOutputQuery {
    bool output_is_loop() const override { return false; }
};

TEST_F(Dir, SettingsFilesThatAreFifosCountAsMissing) {
    for (const char* name : {"sc.txt", "cs.txt", "txport.bin", "loop.txt"})
        ASSERT_EQ(mkfifo(path(name).c_str(), 0600), 0);
    EXPECT_TRUE(passes_in_time([&] {
        tarpo::engine::SoundChoices choices;
        return tarpo::engine::load_sound_choices(dir / "sc.txt", choices) == 0;
    }));
    EXPECT_TRUE(passes_in_time([&] {
        auto text = tarpo::engine::make_callsign_text("DL1ABC");
        return !tarpo::engine::load_callsign(dir / "cs.txt", text) &&
               tarpo::engine::callsign_string(text) == "DL1ABC";
    }));
    EXPECT_TRUE(passes_in_time([&] {
        tarpo::sound::LoopLibrary loop;
        NotLoop output;
        tarpo::ptt::FakeSerialLines lines;
        tarpo::ptt::PttPort ptt(loop, output, lines, {}, path("txport.bin"));
        ptt.save_choice('3');  // not written into the FIFO either
        return ptt.load_choice() == '\0';
    }));
    EXPECT_TRUE(passes_in_time([&] {
        return tarpo::loop::loop_config_load(path("loop.txt").c_str()) == tarpo::loop::LoopConfig{};
    }));
    // Regular files still count.
    fs::remove(dir / "cs.txt");
    write_bytes(dir / "cs.txt", "G4XYZ");
    auto text = tarpo::engine::make_callsign_text("");
    EXPECT_TRUE(tarpo::engine::load_callsign(dir / "cs.txt", text));
    EXPECT_EQ(tarpo::engine::callsign_string(text), "G4XYZ");
}

TEST_F(Dir, AnInvalidLoopFileIsSaidOnceWithTheValuesUsedInstead) {
    write_bytes(dir / "loop.txt", "rx_port 7357\n\ntx_prot 7355 # typo\n");
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i)  // each reopening of the device reads the file again
        EXPECT_EQ(tarpo::loop::loop_config_load(path("loop.txt").c_str()),
                  tarpo::loop::LoopConfig{});
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(one_line(said)) << said;
    EXPECT_NE(said.find("line 3 ('tx_prot 7355 # typo') is not understood; using rx_port 7355, "
                        "tx_host 127.0.0.1, tx_port 7356 instead"),
              std::string::npos)
        << said;
}

}  // namespace
