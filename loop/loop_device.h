// loop/: the SDR loop device library, a virtual sound-card pair and PTT over UDP on the
// loopback interface, built as the shared library the program loads at run time (entries in
// external/loop.h). It stands on the ground floor: it includes only loop/, external/ and dsp/.
// The two directions of the SDR loop device. Receive audio arrives as UDP datagrams of 16-bit
// little-endian mono PCM at 48 kHz on 127.0.0.1:rx_port, with any number of samples per
// datagram; the receiver reassembles them into blocks. Transmit audio leaves as datagrams of
// the same format (at most 1920 samples each) to tx_host:tx_port, and the PTT as the text
// "PTT 1" or "PTT 0" to tx_port + 1.
//
// Both directions pace like a sound card, so that a caller looping over blocks never spins:
// a read waits for a whole block for at most one and a half block times; a write returns
// only when no more than four blocks are queued ahead of real time.
//
// A datagram that is exactly "PTT 0" or "PTT 1" is never audio: with two instances on one
// machine, one's PTT port may be the other's receive port.
//
// Failures are silent: a receive port that cannot be bound (already in use) delivers nothing,
// a send that fails drops the datagram. Each direction has its own lock, so one thread may
// read while another writes.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "loop/loop_config.h"

namespace tarpo::loop {

inline constexpr int default_rate = 48000;         // Hz
inline constexpr int default_block_size = 1920;    // samples, 40 ms at 48 kHz
inline constexpr int max_block_size = 20000;       // the caller's conversion buffers hold this
inline constexpr int max_datagram_samples = 1920;  // transmit datagrams: 40 ms, 3840 bytes
inline constexpr int tx_queue_blocks = 4;          // blocks a write may run ahead of real time
inline constexpr int rx_fifo_blocks = 32;          // 1.28 s at 1920; oldest samples drop first
inline constexpr int rx_wait_halves = 3;           // a read waits 3/2 block times at most

using Clock = std::chrono::steady_clock;

// The rate and block size of a direction, limited to what makes sense: rate 8000..192000 Hz
// (48000 otherwise), block 1..20000 samples (1920 when not positive).
struct BlockTiming {
    int rate = default_rate;
    int block_size = default_block_size;
    static BlockTiming make(int rate, int block_size);
    Clock::duration block_time() const;
};

// Received samples waiting to be read, in arrival order, with the oldest dropped when full.
class SampleFifo {
  public:
    void reset(std::size_t capacity);
    void clear() { head_ = count_ = 0; }
    // `bytes` holds little-endian 16-bit samples; an odd last byte is ignored.
    void push_le16(const std::uint8_t* bytes, std::size_t length);
    // Moves `n` <= size() samples out, oldest first.
    void pop(double* out, std::size_t n);
    std::size_t size() const { return count_; }
    std::size_t capacity() const { return ring_.size(); }

  private:
    std::vector<std::int16_t> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

class LoopReceiver {
  public:
    explicit LoopReceiver(std::string config_path) : config_path_(std::move(config_path)) {}
    ~LoopReceiver();
    LoopReceiver(const LoopReceiver&) = delete;
    LoopReceiver& operator=(const LoopReceiver&) = delete;

    // Rereads the configuration, binds the receive port when it changed (or was not bound),
    // and drops every sample that arrived before: a new start begins with fresh audio.
    void init_rx_recording(int rate, int block_size);
    // One block of block_size samples on the 16-bit scale into `samples`: 1, or 0 when no
    // whole block came within 3/2 block times (the partial block stays for the next read).
    int read_rx(double* samples);

  private:
    void start(int rate, int block_size);
    void drain();
    void discard_waiting();

    std::mutex mutex_;
    std::string config_path_;
    bool started_ = false;
    int fd_ = -1;
    int bound_port_ = 0;
    BlockTiming timing_;
    SampleFifo fifo_;
    std::array<std::uint8_t, 65536> datagram_{};  // the largest UDP payload fits
};

class LoopTransmitter {
  public:
    explicit LoopTransmitter(std::string config_path) : config_path_(std::move(config_path)) {}
    ~LoopTransmitter();
    LoopTransmitter(const LoopTransmitter&) = delete;
    LoopTransmitter& operator=(const LoopTransmitter&) = delete;

    // Rereads the configuration and restarts the pacing clock.
    void init_tx_playback(int rate, int block_size);
    // Sends block_size samples (truncated toward zero, limited to the 16-bit range, NaN as 0)
    // and returns when at most four blocks are queued ahead of real time. 1 when sent, 0 when
    // there is no socket; the pacing holds either way.
    int write_tx(const double* samples);
    // "PTT 1" for a nonzero `on`, else "PTT 0". Unkeying first waits until the queued audio
    // has played out in real time, so that a radio never drops the tail of a transmission.
    void set_ptt(int on);

  private:
    void load_config();
    void send(const std::uint8_t* bytes, std::size_t length, int port);

    std::mutex mutex_;
    std::string config_path_;
    bool config_loaded_ = false;
    bool started_ = false;
    int fd_ = -1;
    LoopConfig config_;
    BlockTiming timing_;
    std::vector<std::uint8_t> bytes_;
    // When the last accepted block ends playing; none before the first block and after a stop.
    std::optional<Clock::time_point> queue_end_;
};

}  // namespace tarpo::loop
