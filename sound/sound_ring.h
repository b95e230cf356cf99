// The block slots that a sound device and the worker pass between them, one ring per
// direction. The device side (a real-time callback, or the fake's clock) and the worker side
// meet only through atomics: each slot belongs to exactly one side at a time, and ownership
// changes hands with a release store that the other side acquires. Neither side ever blocks
// or allocates here; only prepare() allocates, while the device is stopped.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarpo::sound {

// Samples per block that a direction accepts (the loop device's conversion buffers hold 20000).
inline constexpr int max_block_samples = 20000;
// Samples by which an output slot may be longer than its block (drift trimming).
inline constexpr int max_trim = 16;

// A wake-up counter: the device bumps it after completing a slot, the worker sleeps until it
// moves. A waiter reads value() before testing its condition and then waits for a change, so
// a completion between the test and the wait is never missed. notify() is a single atomic add
// and one futex wake: safe in a real-time callback.
class CompletionSignal {
  public:
    std::uint32_t value() const { return count_.load(std::memory_order_acquire); }
    void notify();
    // Sleeps while value() == seen, at most `limit` (spurious early returns are possible).
    void wait(std::uint32_t seen, std::chrono::nanoseconds limit) const;

  private:
    std::atomic<std::uint32_t> count_{0};
};

// Input: 32 slots that the device fills strictly in index order (0, 1, ... 31, 0, ...), and
// that the worker takes in the same order from its current index. The worker may also take
// any number of samples as soon as they are captured, before their slot is complete: the
// device publishes a running count of captured samples after writing them, and a slot goes
// back to the device only once the worker has taken all of it.
class InputRing {
  public:
    static constexpr int slots = 32;

    // Worker side, device stopped: every slot gets n zeroed samples (1 <= n <=
    // max_block_samples) and is queued for the device; the worker and the device both start
    // at slot 0.
    void prepare(int n);
    // Worker side, device stopped: frees the sample memory; the device then drops what it gets.
    void release();

    int block_size() const { return n_; }
    int current() const { return current_; }
    bool current_done() const { return done(current_); }
    bool done(int slot) const { return slots_[slot].done.load(std::memory_order_acquire); }
    // Slots the device has filled and the worker has not yet taken, 0..32; 32 means the device
    // has nowhere to put new samples.
    int completed_count() const;
    // Copies the current slot (which must be done) to dst, hands it back to the device and
    // moves to the next slot.
    void take(std::int16_t* dst) { take(dst, n_); }
    // Samples captured and not yet taken, 0..32 * n.
    std::int64_t available() const;
    // Copies `count` <= available() samples to dst, handing back every slot it empties.
    void take(std::int16_t* dst, int count);
    // Drops `count` <= available() samples as take() would.
    void skip(int count);

    // Device side: stores `count` samples in the queued slots in order and completes each slot
    // that fills up. Returns how many samples found no queued slot and were lost.
    std::size_t capture(const std::int16_t* samples, std::size_t count);

    CompletionSignal& signal() { return signal_; }
    const CompletionSignal& signal() const { return signal_; }

  private:
    struct Slot {
        std::vector<std::int16_t> samples;
        std::atomic<bool> done{false};  // true: filled, the worker's; false: queued, the device's
    };
    std::array<Slot, slots> slots_;
    template <typename Sink>
    void consume(int count, Sink sink);

    int n_ = 0;
    int current_ = 0;         // worker: the slot the next read takes
    int read_offset_ = 0;     // worker: samples already taken from it, 0..n-1
    std::int64_t taken_ = 0;  // worker: samples taken since prepare()
    int fill_slot_ = 0;       // device: the slot being filled
    int fill_count_ = 0;      // device: samples already in it, 0..n-1
    // device: samples captured since prepare(), stored after the samples and the slot's done
    std::atomic<std::int64_t> captured_{0};
    CompletionSignal signal_;
};

// Output: 16 slots that the worker fills and queues in any order; the device plays them in
// the order they were queued (a single-producer single-consumer queue of slot numbers) and
// marks each one done when its last sample has been played. When nothing is queued the device
// plays silence. A slot holds up to n + max_trim samples, and each is queued with its own
// length, so that the queue can be lengthened or shortened by a few samples at a time.
class OutputRing {
  public:
    static constexpr int slots = 16;

    // Worker side, device stopped: every slot gets n zeroed samples (1 <= n <=
    // max_block_samples), all are done (free) and the queue is empty.
    void prepare(int n);
    void release();

    int block_size() const { return n_; }
    bool done(int slot) const { return slots_[slot].done.load(std::memory_order_acquire); }
    int completed_count() const;
    // The highest-numbered done slot, or -1 when none is.
    int highest_done() const;
    // Worker side: the samples of a done slot, to be filled before queue().
    std::int16_t* samples(int slot) { return slots_[slot].samples.data(); }
    // Worker side: appends a done slot to the play queue with `length` samples, 1..n +
    // max_trim (n when not given).
    void queue(int slot) { queue(slot, n_); }
    void queue(int slot, int length);
    // Worker side: samples queued and not yet played, the part of the playing slot included.
    std::int64_t fill() const;
    // Silent samples the device played for want of a queued slot since prepare().
    std::int64_t silent_count() const { return silent_.load(std::memory_order_relaxed); }

    // Device side: writes `count` samples of the queued slots in queue order, silence where
    // the queue is empty. Returns how many silent samples it had to write.
    std::size_t play(std::int16_t* out, std::size_t count);

    CompletionSignal& signal() { return signal_; }
    const CompletionSignal& signal() const { return signal_; }

  private:
    struct Slot {
        std::vector<std::int16_t> samples;
        std::atomic<bool> done{false};  // true: free, the worker's; false: queued, the device's
    };
    std::array<Slot, slots> slots_;
    // The play queue: order_[k % slots] for head_ <= k < tail_. The worker writes an entry and
    // then publishes it by advancing tail_; the device reads it and retires it by advancing
    // head_ before it marks the slot done, so at most 16 entries are ever in the queue.
    std::array<int, slots> order_{};
    std::array<int, slots> length_{};  // samples of each slot, set before it is queued
    std::atomic<std::uint32_t> head_{0};
    std::atomic<std::uint32_t> tail_{0};
    std::int64_t queued_ = 0;              // worker: samples queued since prepare()
    std::atomic<std::int64_t> played_{0};  // device: queued samples played since prepare()
    std::atomic<std::int64_t> silent_{0};  // device: silence played since prepare()
    int n_ = 0;
    int play_count_ = 0;  // device: samples already played from the slot at the head
    CompletionSignal signal_;
};

}  // namespace tarpo::sound
