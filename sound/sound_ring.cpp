#include "sound/sound_ring.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

namespace tarpo::sound {

namespace {

// The futex word is the counter itself; a lock-free 32-bit atomic has the plain integer's
// layout.
static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

std::uint32_t* futex_word(const std::atomic<std::uint32_t>& a) {
    return reinterpret_cast<std::uint32_t*>(const_cast<std::atomic<std::uint32_t>*>(&a));
}

}  // namespace

void CompletionSignal::notify() {
    count_.fetch_add(1, std::memory_order_release);
    syscall(SYS_futex, futex_word(count_), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

void CompletionSignal::wait(std::uint32_t seen, std::chrono::nanoseconds limit) const {
    if (limit <= std::chrono::nanoseconds::zero()) return;
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(limit);
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(s.count());
    timeout.tv_nsec = static_cast<long>((limit - s).count());
    // Returns at once when the counter already moved (EAGAIN); EINTR and spurious wake-ups
    // just return, and the caller tests again.
    syscall(SYS_futex, futex_word(count_), FUTEX_WAIT_PRIVATE, seen, &timeout, nullptr, 0);
}

void InputRing::prepare(int n) {
    n_ = std::clamp(n, 1, max_block_samples);
    for (Slot& slot : slots_) {
        slot.samples.assign(static_cast<std::size_t>(n_), 0);
        slot.done.store(false, std::memory_order_relaxed);
    }
    current_ = 0;
    read_offset_ = 0;
    taken_ = 0;
    fill_slot_ = 0;
    fill_count_ = 0;
    captured_.store(0, std::memory_order_relaxed);
}

void InputRing::release() {
    for (Slot& slot : slots_) {
        slot.samples = {};
        slot.done.store(false, std::memory_order_relaxed);
    }
    n_ = 0;
    current_ = 0;
    read_offset_ = 0;
    taken_ = 0;
    fill_slot_ = 0;
    fill_count_ = 0;
    captured_.store(0, std::memory_order_relaxed);
}

int InputRing::completed_count() const {
    int count = 0;
    for (int i = 0; i < slots; ++i) count += done(i) ? 1 : 0;
    return count;
}

std::int64_t InputRing::available() const {
    return captured_.load(std::memory_order_acquire) - taken_;
}

template <typename Sink>
void InputRing::consume(int count, Sink sink) {
    while (count > 0) {
        Slot& slot = slots_[current_];
        const int step = std::min(count, n_ - read_offset_);
        sink(slot.samples.data() + read_offset_, step);
        read_offset_ += step;
        taken_ += step;
        count -= step;
        if (read_offset_ == n_) {
            // Every sample of it was captured, so the device has already marked it done.
            read_offset_ = 0;
            slot.done.store(false, std::memory_order_release);
            current_ = (current_ + 1) % slots;
        }
    }
}

void InputRing::take(std::int16_t* dst, int count) {
    consume(count, [&dst](const std::int16_t* src, int step) {
        std::memcpy(dst, src, static_cast<std::size_t>(step) * sizeof(std::int16_t));
        dst += step;
    });
}

void InputRing::skip(int count) {
    consume(count, [](const std::int16_t*, int) {});
}

std::size_t InputRing::capture(const std::int16_t* samples, std::size_t count) {
    if (n_ == 0) return count;
    std::size_t used = 0;
    while (used < count) {
        Slot& slot = slots_[fill_slot_];
        // A done slot is still the worker's: the device has no empty buffer and the rest of
        // this delivery is lost, as on a sound card whose queue is full.
        if (slot.done.load(std::memory_order_acquire)) break;
        const std::size_t space = static_cast<std::size_t>(n_ - fill_count_);
        const std::size_t step = std::min(space, count - used);
        std::memcpy(slot.samples.data() + fill_count_, samples + used, step * sizeof(std::int16_t));
        used += step;
        fill_count_ += static_cast<int>(step);
        const bool complete = fill_count_ == n_;
        if (complete) {
            slot.done.store(true, std::memory_order_release);
            fill_count_ = 0;
            fill_slot_ = (fill_slot_ + 1) % slots;
        }
        captured_.fetch_add(static_cast<std::int64_t>(step), std::memory_order_release);
        if (complete) signal_.notify();
    }
    return count - used;
}

void OutputRing::prepare(int n) {
    n_ = std::clamp(n, 1, max_block_samples);
    for (Slot& slot : slots_) {
        slot.samples.assign(static_cast<std::size_t>(n_ + max_trim), 0);
        slot.done.store(true, std::memory_order_relaxed);
    }
    head_.store(0, std::memory_order_relaxed);
    tail_.store(0, std::memory_order_relaxed);
    queued_ = 0;
    played_.store(0, std::memory_order_relaxed);
    silent_.store(0, std::memory_order_relaxed);
    play_count_ = 0;
}

void OutputRing::release() {
    for (Slot& slot : slots_) {
        slot.samples = {};
        slot.done.store(true, std::memory_order_relaxed);
    }
    head_.store(0, std::memory_order_relaxed);
    tail_.store(0, std::memory_order_relaxed);
    queued_ = 0;
    played_.store(0, std::memory_order_relaxed);
    silent_.store(0, std::memory_order_relaxed);
    n_ = 0;
    play_count_ = 0;
}

int OutputRing::completed_count() const {
    int count = 0;
    for (int i = 0; i < slots; ++i) count += done(i) ? 1 : 0;
    return count;
}

int OutputRing::highest_done() const {
    for (int i = slots - 1; i >= 0; --i) {
        if (done(i)) return i;
    }
    return -1;
}

void OutputRing::queue(int slot, int length) {
    length = std::clamp(length, 1, n_ + max_trim);
    const std::uint32_t tail = tail_.load(std::memory_order_relaxed);
    order_[tail % slots] = slot;
    length_[static_cast<std::size_t>(slot)] = length;
    queued_ += length;
    slots_[slot].done.store(false, std::memory_order_relaxed);
    tail_.store(tail + 1, std::memory_order_release);
}

std::int64_t OutputRing::fill() const {
    return queued_ - played_.load(std::memory_order_acquire);
}

std::size_t OutputRing::play(std::int16_t* out, std::size_t count) {
    std::size_t written = 0;
    if (n_ > 0) {
        std::uint32_t head = head_.load(std::memory_order_relaxed);
        while (written < count && head != tail_.load(std::memory_order_acquire)) {
            const int slot = order_[head % slots];
            const int length = length_[static_cast<std::size_t>(slot)];
            const std::int16_t* src = slots_[slot].samples.data();
            const std::size_t step =
                std::min(static_cast<std::size_t>(length - play_count_), count - written);
            std::memcpy(out + written, src + play_count_, step * sizeof(std::int16_t));
            written += step;
            play_count_ += static_cast<int>(step);
            played_.fetch_add(static_cast<std::int64_t>(step), std::memory_order_release);
            if (play_count_ == length) {
                play_count_ = 0;
                ++head;
                head_.store(head, std::memory_order_release);
                slots_[slot].done.store(true, std::memory_order_release);
                signal_.notify();
            }
        }
    }
    std::fill(out + written, out + count, std::int16_t{0});
    if (n_ > 0 && written < count) {
        silent_.fetch_add(static_cast<std::int64_t>(count - written), std::memory_order_relaxed);
    }
    return count - written;
}

}  // namespace tarpo::sound
