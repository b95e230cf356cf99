// A whole engine on the fake sound system and fake serial lines, its devices driven in real
// time by a second thread as a sound card's callbacks would be: the fixture the worker's and
// the rig link's threaded tests share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "engine/engine.h"
#include "tests/support/serial_fake.h"
#include "tests/support/sound_fake.h"

namespace tarpo::test {

class EngineOnFakes : public ::testing::Test {
  protected:
    struct NoReports : engine::WorkerNotifier {
        void rsid_report(const char*) override {}
    };

    // The engine, its phase switches paused 5 ms; dirs: where its serial ports are looked for.
    void make_engine(ptt::SerialPortDirs dirs = {}) {
        engine = std::make_unique<engine::Engine>(
            fake, lines,
            [](std::chrono::milliseconds) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            },
            std::move(dirs));
    }
    void TearDown() override {
        stop_worker();
        engine.reset();
    }
    // The program's start-up of the sound and the worker, then the sound card's clock.
    void start_worker() {
        engine->sound_init(48000);
        devices.emplace(fake);
        engine->start_worker(notifier);
    }
    // The main window's shutdown; true when the worker confirmed within one second.
    bool stop_worker() {
        if (!devices) return true;
        const bool confirmed = engine->stop_worker();
        devices.reset();
        return confirmed;
    }
    // The TX button: from the receive phase to the transmit phase, or back.
    void set_tx(bool on) {
        engine->controls().rx_active = on ? 0 : 1;
        engine->controls().tx_active = on ? 1 : 0;
    }

    sound::FakeSoundBackend fake{48000, sound::FakeSoundBackend::Clock::external};
    ptt::FakeSerialLines lines;
    std::unique_ptr<engine::Engine> engine;
    NoReports notifier;
    std::optional<sound::FakeDeviceThread> devices;
};

}  // namespace tarpo::test
