// The narrow platform layer under the SoundInterface: a sound system that lists its devices
// and runs at most one input and one output device at a time, each moving whole blocks
// through the ring the SoundInterface hands it. Three implementations: a sound server's own
// streams (sound_pulse.h), PortAudio callback streams (sound_portaudio.h) and an in-memory fake
// with a controllable clock (sound_fake.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "sound/sound_ring.h"

namespace tarpo::sound {

enum class Direction { input, output };

// Blocks a paced output keeps queued beyond the one being written, unless a backend wants more.
inline constexpr double pace_cushion = 2.0;

// What a stream is used for. A sound server shows it as the stream's name in its mixer.
enum class StreamRole { rx_input, voice_input, tx_output, voice_output };

constexpr const char* stream_role_name(StreamRole role) {
    switch (role) {
        case StreamRole::rx_input:
            return "TARPO rx input";
        case StreamRole::voice_input:
            return "TARPO voice input";
        case StreamRole::tx_output:
            return "TARPO tx output";
        case StreamRole::voice_output:
            return "TARPO voice output";
    }
    return "TARPO";
}

class SoundBackend {
  public:
    virtual ~SoundBackend() = default;

    // Devices able to record (input) or to play (output), in the system's order, all of them
    // (the SoundInterface lists up to max_listed_devices).
    virtual int device_count(Direction direction) const = 0;
    // The device's name, or an empty text when the system cannot tell.
    virtual std::string device_name(Direction direction, int index) const = 0;
    // The name the system itself knows the device by, which stays the same across restarts
    // and replugging ("alsa_output.usb-...analog-stereo"); by default the shown name.
    virtual std::string device_id(Direction direction, int index) const {
        return device_name(direction, index);
    }
    // The sound system's short name ("pulse", "portaudio"), for listings.
    virtual const char* system_name() const { return ""; }

    // The role and block size (samples) of the direction's next stream; take effect at the
    // next open.
    virtual void set_stream(Direction, StreamRole, int /*block_samples*/) {}
    // Why the direction's last open failed or its running stream died, naming the device
    // ("sound server device 'tarpo_a': No such entity"); empty when nothing went wrong or
    // the system cannot tell.
    virtual std::string problem(Direction) const { return {}; }

    // Opens device `index` of the direction's list (-1: the system's default device) for
    // `rate` Hz, mono, 16-bit, bound to `ring`, stopped. False when it cannot be opened;
    // nothing is then open. The ring must stay alive until close().
    virtual bool open_input(int index, int rate, InputRing& ring) = 0;
    virtual bool open_output(int index, int rate, OutputRing& ring) = 0;
    // Starts moving blocks: an input fills the ring's queued slots in order, an output plays
    // the queued slots in queue order (silence when none is queued).
    virtual bool start(Direction direction) = 0;
    // Stops the device; once it returns the device no longer touches the ring until the next
    // start(). True when nothing is open.
    virtual bool reset(Direction direction) = 0;
    // Stops and closes the device. True when nothing is open.
    virtual bool close(Direction direction) = 0;

    // The clock the bounded waits measure, and the waits themselves. The real backends sleep
    // on the signal; the fake lets its devices run for the time that the wait would take.
    // Samples a paced output of n-sample blocks keeps queued beyond the one being written:
    // enough that the device's largest pull never finds the queue dry (a stream that takes
    // big pieces at a time wants more).
    virtual int pace_cushion_samples(int n) const { return static_cast<int>(pace_cushion * n); }

    virtual std::chrono::nanoseconds now() = 0;
    virtual void wait(const CompletionSignal& signal, std::uint32_t seen,
                      std::chrono::nanoseconds limit) = 0;
    virtual void sleep(std::chrono::nanoseconds duration) = 0;
};

}  // namespace tarpo::sound
