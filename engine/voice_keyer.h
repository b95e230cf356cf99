// The voice keyer: a sound file sent as if spoken into the microphone. The user-interface
// thread holds the whole file (48 kHz) and feeds it a little ahead into a queue; the worker's
// transmit phase takes one block per 40 ms from the queue in place of the microphone. The
// keying order is: start() -> tick() says key -> the file goes out -> once the worker has
// taken the last sample, tick() says unkey -> after the transmission ended the keyer is idle.
// stop() (TX pressed) ends the file at once; the rest goes out as silence.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/sample_fifo.h"
#include "modem/constants.h"

namespace tarpo::engine {

class VoiceKeyer {
  public:
    enum class Action { none, key, unkey };

    // User-interface thread. Takes the file's samples (48 kHz); false while a file is still
    // being sent or its transmission has not ended yet.
    bool start(std::vector<std::int16_t> samples);
    // User-interface thread, once per display tick: tops up the queue and says what the
    // transmitter should do. transmitting: the transmit phase is on (or still stopping).
    Action tick(bool transmitting);
    // User-interface thread: the rest of the file is not sent.
    void stop();
    // A file is being sent or its transmission has not yet ended.
    bool busy() const { return phase_.load() != idle; }

    // Worker thread, once per transmit block: fills block (block_samples) from the file and
    // returns true, or returns false when the keyer is idle (the microphone is used).
    bool fill_block(std::int16_t* block);

  private:
    // idle: the user-interface thread owns everything; running: the worker takes from the
    // queue; finished: the worker has sent the end (or dropped the rest) and sends silence.
    enum Phase : int { idle, running, finished };
    static constexpr std::size_t queue_samples = 2 * 48000;  // 2 s ahead of the transmitter

    std::atomic<int> phase_{idle};
    std::atomic<bool> end_queued_{false};  // the file's last sample is in the queue
    std::atomic<bool> stop_{false};
    SampleFifo<queue_samples> queue_;
    // User-interface thread only.
    std::vector<std::int16_t> samples_;
    std::size_t fed_ = 0;
    bool key_said_ = false;
    bool unkey_said_ = false;
};

}  // namespace tarpo::engine
