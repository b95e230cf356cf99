// The voice keyer: a sound file sent as if spoken into the microphone. The user-interface
// thread reads the file a piece at a time (through the shared sound-file reader, at 48 kHz)
// and keeps a queue 2 s ahead of the transmitter, so memory does not grow with the file; the
// worker's transmit phase takes one block per 40 ms from the queue in place of the
// microphone. The keying order is: start() -> tick() says key -> the file goes out -> once
// the worker has taken the last sample, tick() says unkey -> after the transmission ended the
// keyer is idle. stop() (TX pressed) ends the file at once; the rest goes out as silence. A
// file that cannot be read to its end (a decoder error, a sample that is not a number) stops
// where it fails: what was queued goes out, then unkey, and take_error() says why.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/sample_fifo.h"
#include "modem/constants.h"

namespace tarpo::engine {

// Where the keyer's samples come from (48 kHz, 16-bit), read on the user-interface thread.
class KeyerSource {
  public:
    virtual ~KeyerSource() = default;
    // Up to n samples into out: the count read (0 at the end), or -1 with a one-line `error`.
    virtual long read(std::int16_t* out, std::size_t n, std::string& error) = 0;
};

class VoiceKeyer {
  public:
    enum class Action { none, key, unkey };

    // User-interface thread. Opens a sound file (a regular file only: a FIFO or a device is
    // refused before it is opened) with the limits and messages of the command-line tool, and
    // starts it. False with a one-line reason: unreadable, refused by the reader (rate,
    // length, samples, decoder error in its first 2 s), or a file still being sent.
    bool start_file(const std::string& path, std::string& error);
    // The same from any source; false when a file is still being sent (then error is empty) or
    // the source fails before its first 2 s are queued.
    bool start(std::unique_ptr<KeyerSource> source, std::string& error);
    // A file already in memory (tests).
    bool start(std::vector<std::int16_t> samples);
    // User-interface thread, once per display tick: tops up the queue and says what the
    // transmitter should do. transmitting: the transmit phase is on (or still stopping).
    Action tick(bool transmitting);
    // User-interface thread: the rest of the file is not sent.
    void stop();
    // A file is being sent or its transmission has not yet ended.
    bool busy() const { return phase_.load() != idle; }
    // User-interface thread: why the file being sent stopped before its end (once), or "".
    std::string take_error();

    // Worker thread, once per transmit block: fills block (block_samples) from the file and
    // returns true, or returns false when the keyer is idle (the microphone is used).
    bool fill_block(std::int16_t* block);

  private:
    // idle: the user-interface thread owns everything; running: the worker takes from the
    // queue; finished: the worker has sent the end (or dropped the rest) and sends silence.
    enum Phase : int { idle, running, finished };
    static constexpr std::size_t queue_samples = 2 * 48000;  // 2 s ahead of the transmitter

    // Reads from the source until the queue is full or the source ends; false on an error.
    bool top_up(std::string& error);

    std::atomic<int> phase_{idle};
    std::atomic<bool> end_queued_{false};  // the file's last sample is in the queue
    std::atomic<bool> stop_{false};
    SampleFifo<queue_samples> queue_;
    // User-interface thread only.
    std::unique_ptr<KeyerSource> source_;  // null once the file's end (or failure) is queued
    std::string error_;
    bool key_said_ = false;
    bool unkey_said_ = false;
};

}  // namespace tarpo::engine
