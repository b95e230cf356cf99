// The sound system on PortAudio callback streams: one stream per direction, whose callback
// moves samples between the device and the direction's ring (never blocking, never
// allocating) and signals each completed block; the worker sleeps on that signal. The device
// lists are PortAudio's input-capable and output-capable devices in PortAudio's order; index
// -1 is PortAudio's default device.
//
// Construction initialises PortAudio with the sound libraries' own console chatter (ALSA
// configuration errors while probing, the JACK client's "server not running") silenced, so
// that only the SoundInterface's fixed texts appear.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "sound/sound_backend.h"

namespace tarpo::sound {

class PortAudioBackend final : public SoundBackend {
  public:
    PortAudioBackend();
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    // Whether PortAudio could be initialised at all (without it the lists are empty).
    bool initialised() const { return initialised_; }

    int device_count(Direction direction) const override;
    std::string device_name(Direction direction, int index) const override;
    // Streams open with the device's relaxed latency (through ALSA's pulse plugin, pieces of
    // 100 ms and more at a time): a paced output keeps four blocks queued, and never less
    // than four 40 ms blocks' worth (160 ms) when its blocks are smaller.
    int pace_cushion_samples(int n) const override {
        constexpr int block_floor = 1920;
        return 4 * std::max(n, block_floor);
    }
    bool open_input(int index, int rate, InputRing& ring) override;
    bool open_output(int index, int rate, OutputRing& ring) override;
    bool start(Direction direction) override;
    bool reset(Direction direction) override;
    bool close(Direction direction) override;
    std::chrono::nanoseconds now() override;
    void wait(const CompletionSignal& signal, std::uint32_t seen,
              std::chrono::nanoseconds limit) override;
    void sleep(std::chrono::nanoseconds duration) override;
    const char* system_name() const override { return "portaudio"; }
    std::string problem(Direction direction) const override;

  private:
    struct Device {
        int pa_index;  // PortAudio's device number
        std::string name;
    };
    bool open(Direction direction, int index, int rate, void* ring);
    bool fail(Direction direction, const std::string& device, const char* why);

    bool initialised_ = false;
    std::vector<Device> inputs_;
    std::vector<Device> outputs_;
    void* input_stream_ = nullptr;  // PaStream*
    void* output_stream_ = nullptr;
    std::string input_problem_;
    std::string output_problem_;
};

}  // namespace tarpo::sound
