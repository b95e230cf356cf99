// Hands a value of fixed size from one writer thread to one reader thread without locks:
// the writer fills a back slot and swaps it in whole, the reader takes the newest complete
// value. Neither side ever waits, and neither ever sees a half-written value.
#pragma once

#include <array>
#include <atomic>

namespace tarpo::dsp {

template <typename T>
class TripleBuffer {
  public:
    // Writer side: fill the slot returned by back(), then publish() it.
    T& back() { return slots_[back_]; }
    void publish() {
        back_ = middle_.exchange(back_ | fresh_bit, std::memory_order_acq_rel) & index_mask;
    }

    // Reader side: the newest published value (or the initial one).
    const T& front() {
        if (middle_.load(std::memory_order_relaxed) & fresh_bit)
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & index_mask;
        return slots_[front_];
    }

  private:
    static constexpr unsigned fresh_bit = 4;
    static constexpr unsigned index_mask = 3;
    std::array<T, 3> slots_{};
    unsigned back_ = 0;                // writer only
    std::atomic<unsigned> middle_{1};  // shared: the slot in between, and whether it is new
    unsigned front_ = 2;               // reader only
};

}  // namespace tarpo::dsp
