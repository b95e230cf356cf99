#include "engine/voice_keyer.h"

#include <algorithm>

namespace tarpo::engine {

bool VoiceKeyer::start(std::vector<std::int16_t> samples) {
    if (phase_.load() != idle) return false;
    // Idle: the worker touches nothing of ours, and the queue is empty (the worker took or
    // dropped all of the last file before it finished).
    samples_ = std::move(samples);
    fed_ = 0;
    key_said_ = false;
    unkey_said_ = false;
    end_queued_.store(false);
    stop_.store(false);
    phase_.store(running);
    tick(false);  // fills the queue ahead of the first block; the key is said by the next tick
    key_said_ = false;
    return true;
}

VoiceKeyer::Action VoiceKeyer::tick(bool transmitting) {
    const int phase = phase_.load();
    if (phase == running) {
        fed_ += queue_.push(samples_.data() + fed_, samples_.size() - fed_);
        if (fed_ == samples_.size()) end_queued_.store(true, std::memory_order_release);
        if (!key_said_) {
            key_said_ = true;
            return Action::key;
        }
    } else if (phase == finished) {
        if (!unkey_said_) {
            unkey_said_ = true;
            return Action::unkey;
        }
        if (!transmitting) {
            samples_.clear();
            phase_.store(idle);
        }
    }
    return Action::none;
}

void VoiceKeyer::stop() {
    stop_.store(true);
}

bool VoiceKeyer::fill_block(std::int16_t* block) {
    constexpr auto n = static_cast<std::size_t>(modem::block_samples);
    const int phase = phase_.load();
    if (phase == idle) return false;
    std::size_t got = 0;
    if (phase == running) {
        if (stop_.load()) {
            queue_.clear();
            phase_.store(finished);
        } else {
            // Read before taking: when the end was queued already, an empty queue after
            // this block means the whole file has gone out.
            const bool end = end_queued_.load(std::memory_order_acquire);
            got = queue_.pop(block, n);
            if (end && queue_.size() == 0) phase_.store(finished);
        }
    }
    std::fill(block + got, block + n, std::int16_t{0});
    return true;
}

}  // namespace tarpo::engine
