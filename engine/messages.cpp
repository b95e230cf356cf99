#include "engine/messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tarpo::engine {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.remove_suffix(1);
    while (!text.empty() && (text.front() == '\n' || text.front() == ' ')) text.remove_prefix(1);
    return text.substr(0, MessageQueue::text_size);
}

}  // namespace

bool MessageQueue::is_fresh_repeat(std::string_view text, Clock::time_point now) {
    for (Entry& e : recent_) {
        if (e.size != text.size() || std::memcmp(e.text.data(), text.data(), e.size) != 0) continue;
        const bool fresh = now - e.seen < repeat_gap_;
        e.seen = now;
        return fresh;
    }
    Entry& slot = recent_[recent_next_];
    recent_next_ = (recent_next_ + 1) % recent_.size();
    std::memcpy(slot.text.data(), text.data(), text.size());
    slot.size = text.size();
    slot.seen = now;
    return false;
}

bool MessageQueue::post_at(std::string_view text, Clock::time_point now, bool echo) {
    text = trimmed(text);
    if (text.empty()) return false;
    {
        std::lock_guard lock(mutex_);
        if (is_fresh_repeat(text, now)) return false;
        if (count_ == capacity) {
            first_ = (first_ + 1) % capacity;
            --count_;
            ++overflowed_;
        }
        Entry& e = waiting_[(first_ + count_) % capacity];
        std::memcpy(e.text.data(), text.data(), text.size());
        e.size = text.size();
        e.seen = now;
        ++count_;
    }
    if (echo) {
        std::fprintf(stderr, "tarpo: %.*s\n", static_cast<int>(text.size()), text.data());
        std::fflush(stderr);
    }
    return true;
}

bool MessageQueue::take(std::string& text) {
    std::lock_guard lock(mutex_);
    if (count_ == 0) return false;
    const Entry& e = waiting_[first_];
    text.assign(e.text.data(), e.size);
    first_ = (first_ + 1) % capacity;
    --count_;
    return true;
}

std::size_t MessageQueue::overflowed() const {
    std::lock_guard lock(mutex_);
    return overflowed_;
}

}  // namespace tarpo::engine
