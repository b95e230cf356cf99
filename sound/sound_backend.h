// The narrow platform layer under the SoundInterface: a sound system that lists its devices
// and runs at most one input and one output device at a time, each moving whole blocks
// through the ring the SoundInterface hands it. Two implementations: PortAudio callback
// streams (sound_portaudio.h) and an in-memory fake with a controllable clock (sound_fake.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "sound/sound_ring.h"

namespace tarpo::sound {

enum class Direction { input, output };

class SoundBackend {
  public:
    virtual ~SoundBackend() = default;

    // Devices able to record (input) or to play (output), in the system's order, all of them
    // (the SoundInterface lists at most 10).
    virtual int device_count(Direction direction) const = 0;
    // The device's name, or an empty text when the system cannot tell.
    virtual std::string device_name(Direction direction, int index) const = 0;

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
    virtual std::chrono::nanoseconds now() = 0;
    virtual void wait(const CompletionSignal& signal, std::uint32_t seen,
                      std::chrono::nanoseconds limit) = 0;
    virtual void sleep(std::chrono::nanoseconds duration) = 0;
};

}  // namespace tarpo::sound
