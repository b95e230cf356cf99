// The sound system on a sound server's own streams (the PulseAudio protocol, which PipeWire
// serves too through pipewire-pulse): one stream per direction, driven by the client
// library's threaded main loop. Its callbacks move samples between the server and the
// direction's ring (never blocking, never allocating) and the ring signals each completed
// block; the worker sleeps on that signal as with PortAudio.
//
// The lists: entry 0 is the server's default device, then the server's sources (inputs) and
// sinks (outputs) by their descriptions; the monitors of sinks follow the other inputs. The
// SoundInterface appends the loop device's entry after all of them, so it stays last. Each
// entry's stable name is the server's own device name ("alsa_output.usb-...analog-stereo",
// "tarpo_a.monitor"), and a device is opened by that name, so that a choice keeps its device
// when the server renumbers it. A stream on a chosen device is never moved elsewhere by the
// server: a device that goes away makes the direction stall with its reason, as a failing
// sound card does.
//
// Buffering is explicit and small: an output asks the server for two blocks of 1920 samples
// (80 ms at 48 kHz) in its queue, an input for fragments of one block.
//
// Every wait on the server is bounded (connect, open): a server that does not answer makes
// the construction or the open fail, never hang. The server is never started on demand.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "sound/sound_backend.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace tarpo::sound {

// How long a connect or an open may wait for the server.
inline constexpr std::chrono::milliseconds pulse_timeout{1500};
// The names of the default entries.
inline constexpr const char* pulse_default_input = "Sound server default input";
inline constexpr const char* pulse_default_output = "Sound server default output";

class PulseBackend final : public SoundBackend {
  public:
    // Connects to the server (PULSE_SERVER, or the session's own), waiting at most `timeout`,
    // and reads its device lists.
    explicit PulseBackend(std::chrono::milliseconds timeout = pulse_timeout);
    ~PulseBackend() override;
    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    // Whether a server answered at construction (without one the lists are empty).
    bool connected() const { return connected_; }

    int device_count(Direction direction) const override;
    std::string device_name(Direction direction, int index) const override;
    std::string device_id(Direction direction, int index) const override;
    const char* system_name() const override { return "pulse"; }
    void set_stream(Direction direction, StreamRole role, int block_samples) override;
    std::string problem(Direction direction) const override;
    bool open_input(int index, int rate, InputRing& ring) override;
    bool open_output(int index, int rate, OutputRing& ring) override;
    bool start(Direction direction) override;
    bool reset(Direction direction) override;
    bool close(Direction direction) override;
    std::chrono::nanoseconds now() override;
    void wait(const CompletionSignal& signal, std::uint32_t seen,
              std::chrono::nanoseconds limit) override;
    void sleep(std::chrono::nanoseconds duration) override;

    struct Device {
        std::string id;  // the server's name; empty for the default entry
        std::string description;
        bool monitor = false;  // the monitor of a sink
    };
    // What the main loop's callbacks share with the worker; guarded by the main loop's lock.
    struct Stream {
        pa_threaded_mainloop* loop = nullptr;
        pa_stream* stream = nullptr;
        void* ring = nullptr;  // InputRing* or OutputRing*
        bool running = false;  // the callbacks may touch the ring
        StreamRole role = StreamRole::rx_input;
        int block_samples = 1920;
        std::string device;   // as shown in messages
        std::string problem;  // see problem()
    };

  private:
    bool connect();
    void disconnect();
    bool ready_context() const;
    void read_lists();
    bool open(Direction direction, int index, int rate, void* ring);
    void drop_stream(Stream& s);
    // Waits on the main loop (its lock held) until `done()` or the deadline; false on timeout.
    template <typename Done>
    bool wait_loop(Done done, std::chrono::milliseconds limit);
    Stream& stream_of(Direction direction) { return direction == Direction::input ? in_ : out_; }
    const Stream& stream_of(Direction direction) const {
        return direction == Direction::input ? in_ : out_;
    }

    std::chrono::milliseconds timeout_;
    bool connected_ = false;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::vector<Device> inputs_;
    std::vector<Device> outputs_;
    Stream in_;
    Stream out_;
};

}  // namespace tarpo::sound
