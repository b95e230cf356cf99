#include "engine/voice_keyer.h"

#include <algorithm>
#include <array>

#include "dsp/numeric.h"
#include "sound/sound_file.h"

namespace tarpo::engine {

namespace {

constexpr int keyer_rate = 48000;  // Hz, the microphone's

// A sound file through the shared reader, as the command-line tool reads it.
class FileSource final : public KeyerSource {
  public:
    bool open(const std::string& path, std::string& error) {
        return reader_.open(path, keyer_rate, error, sound::Sources::regular_files);
    }
    long read(std::int16_t* out, std::size_t n, std::string& error) override {
        n = std::min(n, piece_.size());
        const long got = reader_.read(piece_.data(), static_cast<long>(n), error);
        for (long i = 0; i < got; ++i)
            out[i] = dsp::to_sample16(piece_[static_cast<std::size_t>(i)]);
        return got;
    }

  private:
    sound::SoundReader reader_;
    std::array<double, 4800> piece_{};
};

class MemorySource final : public KeyerSource {
  public:
    explicit MemorySource(std::vector<std::int16_t> samples) : samples_(std::move(samples)) {}
    long read(std::int16_t* out, std::size_t n, std::string&) override {
        n = std::min(n, samples_.size() - used_);
        std::copy_n(samples_.data() + used_, n, out);
        used_ += n;
        return static_cast<long>(n);
    }

  private:
    std::vector<std::int16_t> samples_;
    std::size_t used_ = 0;
};

}  // namespace

bool VoiceKeyer::start_file(const std::string& path, std::string& error) {
    if (busy()) {
        error = "a sound file is still being sent";
        return false;
    }
    auto source = std::make_unique<FileSource>();
    if (!source->open(path, error)) return false;
    return start(std::move(source), error);
}

bool VoiceKeyer::start(std::vector<std::int16_t> samples) {
    std::string error;
    return start(std::make_unique<MemorySource>(std::move(samples)), error);
}

bool VoiceKeyer::start(std::unique_ptr<KeyerSource> source, std::string& error) {
    if (phase_.load() != idle) return false;
    // Idle: the worker touches nothing of ours, and the queue is empty (the worker took or
    // dropped all of the last file before it finished).
    source_ = std::move(source);
    error_.clear();
    key_said_ = false;
    unkey_said_ = false;
    end_queued_.store(false);
    stop_.store(false);
    // The first 2 s before anything is keyed: a file that fails in them is refused whole.
    if (!top_up(error)) {
        source_.reset();
        queue_.clear();
        return false;
    }
    phase_.store(running);
    return true;
}

bool VoiceKeyer::top_up(std::string& error) {
    std::array<std::int16_t, 4800> piece{};
    while (source_) {
        const std::size_t room = queue_.capacity() - queue_.size();
        if (room == 0) break;
        const long got = source_->read(piece.data(), std::min(room, piece.size()), error);
        if (got <= 0) {
            source_.reset();
            end_queued_.store(true, std::memory_order_release);
            return got == 0;
        }
        // The only producer: the room seen can only have grown.
        queue_.push(piece.data(), static_cast<std::size_t>(got));
    }
    return true;
}

VoiceKeyer::Action VoiceKeyer::tick(bool transmitting) {
    const int phase = phase_.load();
    if (phase == running) {
        std::string error;
        if (!top_up(error)) error_ = error;
        if (!key_said_) {
            key_said_ = true;
            return Action::key;
        }
    } else if (phase == finished) {
        source_.reset();
        if (!unkey_said_) {
            unkey_said_ = true;
            return Action::unkey;
        }
        if (!transmitting) phase_.store(idle);
    }
    return Action::none;
}

std::string VoiceKeyer::take_error() {
    std::string error;
    error.swap(error_);
    return error;
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
