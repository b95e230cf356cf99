// A single-producer single-consumer queue of 16-bit samples with a fixed capacity, for audio
// that crosses between the worker and the user-interface thread (received speech out to the
// recorder, a sound file in from the voice keyer). Neither side ever blocks or allocates:
// a full queue takes what fits, an empty one gives what it has.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarpo::engine {

template <std::size_t Capacity>
class SampleFifo {
  public:
    // Producer side: appends up to n samples; returns how many fitted.
    std::size_t push(const std::int16_t* samples, std::size_t n) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        const std::size_t count = std::min(n, Capacity - (tail - head));
        for (std::size_t i = 0; i < count; ++i) buffer_[(tail + i) % Capacity] = samples[i];
        tail_.store(tail + count, std::memory_order_release);
        return count;
    }

    // Consumer side: takes up to n samples into out; returns how many it took.
    std::size_t pop(std::int16_t* out, std::size_t n) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        const std::size_t count = std::min(n, tail - head);
        for (std::size_t i = 0; i < count; ++i) out[i] = buffer_[(head + i) % Capacity];
        head_.store(head + count, std::memory_order_release);
        return count;
    }

    // Consumer side: drops everything queued.
    void clear() { head_.store(tail_.load(std::memory_order_acquire), std::memory_order_release); }

    // Either side: samples queued now (a snapshot).
    std::size_t size() const {
        const std::size_t head = head_.load(std::memory_order_acquire);
        return tail_.load(std::memory_order_acquire) - head;
    }
    static constexpr std::size_t capacity() { return Capacity; }

  private:
    std::array<std::int16_t, Capacity> buffer_{};
    std::atomic<std::size_t> head_{0};  // consumer: samples taken so far
    std::atomic<std::size_t> tail_{0};  // producer: samples queued so far
};

}  // namespace tarpo::engine
