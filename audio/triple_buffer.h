// A triple buffer: one writer publishes whole values, one reader takes the latest one, and
// neither ever waits for the other. The writer fills its own slot, then swaps it with the
// middle slot and marks it fresh; the reader swaps the middle slot with its own when it is
// fresh. T must be trivially copyable (fixed-size text, numbers).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <type_traits>

namespace tarpo::audio {

template <typename T>
class TripleBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    // Writer side.
    void publish(const T& value) {
        slots_[back_] = value;
        const std::uint8_t old = middle_.exchange(back_ | fresh_bit, std::memory_order_acq_rel);
        back_ = old & index_mask;
    }

    // Reader side: the latest value published (a default T before the first one).
    const T& latest() {
        if (middle_.load(std::memory_order_relaxed) & fresh_bit) {
            const std::uint8_t old = middle_.exchange(front_, std::memory_order_acq_rel);
            front_ = old & index_mask;
        }
        return slots_[front_];
    }

  private:
    static constexpr std::uint8_t fresh_bit = 4;
    static constexpr std::uint8_t index_mask = 3;
    std::array<T, 3> slots_{};
    std::uint8_t back_ = 0;   // the writer's slot
    std::uint8_t front_ = 1;  // the reader's slot
    std::atomic<std::uint8_t> middle_{2};
};

}  // namespace tarpo::audio
