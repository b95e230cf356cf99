// sound/: the sound devices (PortAudio, the SDR loop library) behind one interface.
// Second floor: it includes sound/ and the floors below (external/, dsp/; the loop device
// through external/loop.h).
// Block-oriented 16-bit mono sound I/O in two independent directions, each bound to one
// chosen device at a time: a device of the sound system, or the SDR loop device when its
// library is present. Input keeps 32 blocks queued on the device, output 16 free slots; a
// choice of device only marks the direction, and the next read or write of that direction
// closes the old device, opens the new one and queues fresh buffers.
//
// Delay. Each phase is paced by one direction (the blocking one) and the other keeps up
// (non-blocking). A blocking read returns as soon as a whole block has been captured; a
// blocking write returns as soon as the output queue is down to two blocks (the backend's
// pace_cushion_samples: four 40 ms blocks with PortAudio, whose streams take big pieces at a
// time), so that it never holds more than three: the modem signal must never run dry, and a
// sound server may take a block's worth or more in one callback. Blocks may be smaller than
// 40 ms (Analog mode passes 20 ms pieces); the cushions, counted in blocks, shrink with them. The
// non-blocking direction keeps a small cushion against the jitter of the pacing side: the voice
// output queue a block ahead of each write (voice_cushion), the microphone half a block beyond each
// read (mic_cushion). When the two cards' clocks differ (up to a few hundred ppm), the non-blocking
// direction stretches or squeezes its blocks by a few samples (fill_trim.h) to hold its cushion; a
// queue that ran dry is primed with its cushion of silence, and a backlog left by a hold-up of the
// worker is cut back to the cushion rather than carried as delay.
//
// Threads: reads, writes, starts, stops and shutdown run on the worker only. The selections
// and the list queries may run on the user-interface thread at any time after sound_init;
// a selection is picked up at the worker's next read or write of that direction.
//
// Waits that could last forever on a device that failed to open or stopped delivering are
// bounded: such a direction paces like a device (one block time per blocking call), delivers
// nothing, and prints its open-failure text once per reopen.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sound/fill_trim.h"
#include "sound/loop_library.h"
#include "sound/sound_backend.h"
#include "sound/sound_ring.h"

namespace tarpo::sound {

// Where the fixed diagnostic texts go. The default writes them to standard output, with no
// line end, and flushes.
class SoundDiagnostics {
  public:
    virtual ~SoundDiagnostics() = default;
    virtual void print(const char* text);
};

// The names the lists give the loop device.
inline constexpr const char* loop_input_name = "SDR Loop In Device";
inline constexpr const char* loop_output_name = "SDR Loop Out Device";
// Sound-card entries per list, a bound against a broken count only: every device the sound
// system offers is listed (a machine with many ALSA devices easily has more than ten, and a
// radio's USB codec must not fall off the end). One more slot holds the loop entry.
inline constexpr int max_listed_devices = 1000;
// Characters per list entry, terminator included; longer device names are cut.
inline constexpr int device_name_size = 200;
// The rate argument the loop library always gets.
inline constexpr int loop_rate = 48000;
// A live device that completes nothing for this many 40 ms block times (or its own blocks,
// when longer) is taken as stalled (320 ms: a sound server's start-up and scheduling jitter
// stay well below).
inline constexpr int stall_blocks = 8;
// The block size a direction assumes until the worker starts it.
inline constexpr int default_block_samples = 1920;
// Queue targets, in blocks of the direction (see the delay model above).
inline constexpr double voice_cushion = 1.0;  // a non-blocking output: queued ahead of a write
inline constexpr double mic_cushion = 0.5;    // a non-blocking input: left after a read
// A non-blocking direction holds at most this many blocks beyond its cushion (a burst from
// the loop device's sender, which runs up to four blocks ahead; a worker that was held up);
// beyond it a write is dropped, a read drops the oldest samples down to the cushion.
inline constexpr int excess_blocks = 1;

class SoundInterface final : public LoopOutputQuery {
  public:
    // The backend, the loop library and the diagnostics must outlive this object.
    SoundInterface(SoundBackend& backend, LoopLibrary& loop);
    SoundInterface(SoundBackend& backend, LoopLibrary& loop, SoundDiagnostics& diagnostics);
    ~SoundInterface() override;
    SoundInterface(const SoundInterface&) = delete;
    SoundInterface& operator=(const SoundInterface&) = delete;

    // rate: Hz, 48000 in this program. Loads the loop library, builds the device lists and
    // marks both directions for reopening on device 0 (input blocking, output not).
    void init(int rate);

    int input_count() const { return input_count_; }
    int output_count() const { return output_count_; }
    // The entry's name; an empty text for an index outside the list.
    const char* input_name(int index) const;
    const char* output_name(int index) const;
    // The entry's stable name (the sound system's own name for the device; the loop entry's
    // name for the loop entry); an empty text for an index outside the list.
    const std::string& input_id(int index) const;
    const std::string& output_id(int index) const;
    bool loop_present() const { return loop_present_; }
    // The list index of the entry named or stably named exactly `name`, for tests and tools
    // that pick a device by name ("tarpo_a", "tarpo_a_monitor").
    std::optional<int> find_input(std::string_view name) const;
    std::optional<int> find_output(std::string_view name) const;

    // device: list index; at or beyond the count means the default device (-1). Takes effect
    // at the next read or write of that direction, also when the device is the same. The
    // role names the stream that the device is opened with.
    void select_input(int device, bool blocking, StreamRole role = StreamRole::rx_input);
    void select_output(int device, bool blocking, StreamRole role = StreamRole::tx_output);

    // n: samples per block, 1..20000 (1920 here; 960 in Analog mode). The input's device is
    // reopened when it was marked or n changed; the output's always.
    void start_input(int n);
    void start_output(int n);

    // What a read did with its block.
    enum class Read {
        delivered,  // a new block is in dst
        overrun,    // a new block is in dst, but the device had run out of buffers before it
        nothing,    // dst untouched: the loop device delivered nothing, a blocking read found a
                    // dead device, or nothing was ready for a non-blocking read
    };
    // dst: n_in samples.
    Read read_block(std::int16_t* dst);
    // src: n_out samples. True when the block was dropped (no free buffer and not blocking,
    // or a dead device), when the queue had run dry, or when the loop device refused it.
    bool write_block(const std::int16_t* src);

    // Drift trimming of the non-blocking direction, on by default. Off, blocks keep their
    // length and a non-blocking read takes whole blocks as soon as they are ready (for tests
    // that pin the queue mechanics block by block).
    void set_fill_trim(bool on) { trim_on_ = on; }
    // Worker side, for tests and benchmarks: samples queued on the output device, samples
    // captured and not yet read.
    std::int64_t output_fill() const { return out_ring_.fill(); }
    std::int64_t input_backlog() const { return in_ring_.available(); }
    // The times the output queue was found dry since its start; safe from any thread.
    int output_underruns() const { return underruns_.load(std::memory_order_relaxed); }
    // The times since its start the input lost audio: every buffer was full when a block was
    // taken (an overrun), or a non-blocking read found less than its block after priming (the
    // microphone fell behind its cushion). Safe from any thread.
    int input_gaps() const { return input_gaps_.load(std::memory_order_relaxed); }

    // A paced output: waits (bounded) until the next write_block would find room, so that
    // the block to be written can be made from the freshest input. Returns at once for the
    // loop device (its write paces itself) and for a non-blocking output.
    void wait_output();

    // Stops and closes the direction's device (its failures printed); the next read or write
    // opens it again.
    void stop(Direction direction);
    // Unkeys the loop device, stops and closes both devices and frees their buffers.
    void shutdown();

    // The selected output is the SDR loop device (set by the selection itself, before any
    // reopening). Safe from any thread.
    bool output_is_loop() const override;

  private:
    // A selection as one word, so that the worker never sees half of one: bits 0..31 the
    // device index, bit 32 blocking, bit 33 loop, bits 34..35 the role.
    static std::uint64_t pack(int device, bool blocking, bool loop, StreamRole role);

    // What the worker uses for one direction between two reopenings.
    struct DirectionState {
        std::atomic<std::uint64_t> choice{0};
        std::atomic<bool> reopen{true};
        int device = 0;
        bool blocking = false;
        bool loop = false;
        StreamRole role = StreamRole::rx_input;
        bool open = false;      // a sound-system device is open
        bool dead = false;      // the open failed: nothing will ever complete
        bool stalled = false;   // a live device stopped completing blocks
        bool reported = false;  // the failure text was printed since the last reopen
        int n = default_block_samples;
    };

    void select(DirectionState& d, int count, int device, bool blocking, StreamRole role);
    void latch(DirectionState& d);
    // Closes the direction's device and opens the one selected (nothing to open for the loop
    // device).
    void reopen(Direction direction);
    // The texts a failed stop prints.
    struct StopTexts {
        const char* reset;
        const char* unprepare;
        const char* close;
    };
    template <typename Ring>
    void stop_direction(DirectionState& d, Direction direction, Ring& ring, const StopTexts& texts);
    void mark_failed(DirectionState& d, const char* text);
    // The fixed failure text, then the backend's line naming the device and the reason.
    void report_failure(DirectionState& d, const char* text);
    // Waits (bounded) until `ready` holds; false when it timed out.
    template <typename Ready>
    bool wait_until(DirectionState& d, const CompletionSignal& signal, Ready ready);
    std::chrono::nanoseconds block_time(int n) const;
    Read read_free(std::int16_t* dst);
    bool write_paced(const std::int16_t* src);
    bool output_room() const;
    bool write_free(const std::int16_t* src);
    // Queues `length` samples of silence, then `src` stretched to `length_out` samples.
    void queue_block(const std::int16_t* src, int length_out);
    void queue_silence(int length);
    int cushion(double blocks, int n) const { return static_cast<int>(blocks * n); }
    void print(const char* text) { diagnostics_->print(text); }

    SoundBackend& backend_;
    LoopLibrary& loop_;
    SoundDiagnostics default_diagnostics_;
    SoundDiagnostics* diagnostics_;

    int rate_ = 48000;
    bool loop_present_ = false;
    int input_count_ = 0;
    int output_count_ = 0;
    std::vector<std::array<char, device_name_size>> input_names_;
    std::vector<std::array<char, device_name_size>> output_names_;
    std::vector<std::string> input_ids_;
    std::vector<std::string> output_ids_;

    DirectionState in_;
    DirectionState out_;
    InputRing in_ring_;
    OutputRing out_ring_;
    // The drift trimming and priming of the non-blocking directions (worker only).
    bool trim_on_ = true;
    bool in_priming_ = true;
    std::atomic<int> underruns_{0};
    std::atomic<int> input_gaps_{0};
    FillTrim in_trim_;
    FillTrim out_trim_;
    std::array<std::int16_t, max_block_samples + max_trim> stretch_{};
    // Samples crossing the loop library's boundary, as doubles on the 16-bit scale.
    std::array<double, max_block_samples> loop_in_{};
    std::array<double, max_block_samples> loop_out_{};
};

}  // namespace tarpo::sound
