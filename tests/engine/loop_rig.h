// The program's worker without a user interface, between the SDR loop device (rx input and tx
// output, ports from the loop.txt of the current directory) and a stand-in codec: what the
// two-instance test's stations and the soak run's share.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/passes.h"
#include "engine/ready_station.h"
#include "engine/worker.h"
#include "modem/station.h"
#include "ptt/ptt.h"
#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "tests/support/serial_fake.h"
#include "tests/support/sound_fake.h"
#include "voice/codec_adapter.h"

namespace tarpo::loop_rig {

struct Quiet : engine::WorkerNotifier {
    void rsid_report(const char*) override {}
};

class LoopRig {
  public:
    explicit LoopRig(voice::SpeechCodec& codec)
        : ready_(engine::make_station(codec, engine::linked_rsid())) {}

    // Loads the loop library and opens the sound interface on it; false with a message.
    bool open(const std::string& library) {
        if (!loop_.load(library)) {
            std::fprintf(stderr, "cannot load %s\n", library.c_str());
            return false;
        }
        sound_.init(48000);
        controls().rx_input_device = sound_.input_count() - 1;
        controls().tx_output_device = sound_.output_count() - 1;
        return true;
    }
    // Keyed from the start, sending `callsign`.
    void transmit(const char* callsign) {
        char text[81] = {};
        std::strncpy(text, callsign, 80);
        station().callsign().set_text(text);
        controls().rx_active = 0;
        controls().tx_active = 1;
    }
    void start() {
        worker_.emplace(controls(), sound_, ptt_, ready_->passes, quiet_, nullptr);
        worker_->start();
    }
    // Stops the worker as the program's shutdown does; false when it did not finish.
    bool stop() {
        controls().rx_active = 0;
        controls().tx_active = 0;
        controls().worker_run = 0;
        for (int i = 0; i < 30 && !worker_->finished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (worker_->join_if_finished()) return true;
        std::fprintf(stderr, "worker did not finish\n");
        return false;
    }

    engine::Controls& controls() { return ready_->controls; }
    modem::Station& station() { return ready_->station; }

  private:
    std::unique_ptr<engine::ReadyStation> ready_;
    sound::FakeSoundBackend cards_{48000, sound::FakeSoundBackend::Clock::external};
    sound::LoopLibrary loop_;
    sound::SoundInterface sound_{cards_, loop_};
    ptt::FakeSerialLines lines_;
    ptt::PttPort ptt_{loop_, sound_, lines_};
    Quiet quiet_;
    std::optional<engine::AudioWorker> worker_;
};

}  // namespace tarpo::loop_rig
