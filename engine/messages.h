// Messages a user must act on (a sound device that will not open, a PTT port that fails, a
// rig that stopped answering), posted by any thread and shown by the user interface in its
// status line. Each is also said on standard error as it is posted, unless its poster says it
// already.
//
// The queue holds a few fixed-size entries (no allocation when posting) behind a lock held
// only while one entry is copied. A text posted again while it is still fresh (seen within
// `repeat_gap` of its last posting or attempt) is dropped: a fault that recurs every block is
// one message, not a flood; it is said again once it has been quiet for that long.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace tarpo::engine {

class MessageQueue {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t capacity = 8;     // waiting to be taken
    static constexpr std::size_t text_size = 240;  // characters per message, the end cut off

    explicit MessageQueue(std::chrono::milliseconds repeat_gap = std::chrono::seconds(30))
        : repeat_gap_(repeat_gap) {}

    // Any thread. Blank text and line ends around it are dropped; `echo` also says it on
    // standard error. Returns whether it was taken (false for a repeat); with the queue full
    // the oldest waiting message gives way.
    bool post(std::string_view text, bool echo = true) { return post_at(text, Clock::now(), echo); }
    bool post_at(std::string_view text, Clock::time_point now, bool echo = true);
    // User-interface thread: the oldest message waiting, false when none.
    bool take(std::string& text);
    // Messages dropped because the queue was full, so far.
    std::size_t overflowed() const;

  private:
    struct Entry {
        std::array<char, text_size> text{};
        std::size_t size = 0;
        Clock::time_point seen{};
    };
    bool is_fresh_repeat(std::string_view text, Clock::time_point now);

    const std::chrono::milliseconds repeat_gap_;
    mutable std::mutex mutex_;
    std::array<Entry, capacity> waiting_{};  // a ring: first_ .. first_ + count_
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::size_t overflowed_ = 0;
    std::array<Entry, capacity> recent_{};  // the last texts posted, for repeats
    std::size_t recent_next_ = 0;
};

}  // namespace tarpo::engine
