#include "tests/support/sound_fake.h"

#include <algorithm>
#include <thread>

namespace tarpo::sound {

FakeSoundBackend::FakeSoundBackend(int rate, Clock clock)
    : rate_(rate > 0 ? rate : 48000), clock_mode_(clock) {
    input_.names = {"in 0", "in 1"};
    output_.names = {"out 0", "out 1"};
}

void FakeSoundBackend::set_devices(Direction direction, std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    dev(direction).names = std::move(names);
}

void FakeSoundBackend::set_ids(Direction direction, std::vector<std::string> ids) {
    std::lock_guard lock(mutex_);
    dev(direction).ids = std::move(ids);
}

void FakeSoundBackend::set_problem(Direction direction, std::string text) {
    std::lock_guard lock(mutex_);
    dev(direction).problem = std::move(text);
}

StreamRole FakeSoundBackend::role(Direction direction) const {
    std::lock_guard lock(mutex_);
    return dev(direction).role;
}

std::string FakeSoundBackend::device_id(Direction direction, int index) const {
    std::lock_guard lock(mutex_);
    const auto& ids = dev(direction).ids;
    if (index >= 0 && index < static_cast<int>(ids.size())) return ids[index];
    const auto& names = dev(direction).names;
    return index >= 0 && index < static_cast<int>(names.size()) ? names[index] : std::string();
}

void FakeSoundBackend::set_stream(Direction direction, StreamRole role, int /*block_samples*/) {
    std::lock_guard lock(mutex_);
    dev(direction).role = role;
}

std::string FakeSoundBackend::problem(Direction direction) const {
    std::lock_guard lock(mutex_);
    return dev(direction).problem;
}

void FakeSoundBackend::set_chunk(int samples) {
    std::lock_guard lock(mutex_);
    chunk_ = std::max(samples, 1);
}

void FakeSoundBackend::fail_open(Direction direction, bool fail) {
    std::lock_guard lock(mutex_);
    dev(direction).fail_open = fail;
}

void FakeSoundBackend::fail_reset(Direction direction, bool fail) {
    std::lock_guard lock(mutex_);
    dev(direction).fail_reset = fail;
}

void FakeSoundBackend::fail_close(Direction direction, bool fail) {
    std::lock_guard lock(mutex_);
    dev(direction).fail_close = fail;
}

void FakeSoundBackend::vanish(Direction direction) {
    std::lock_guard lock(mutex_);
    dev(direction).vanished = true;
}

void FakeSoundBackend::set_ppm(Direction direction, double ppm) {
    std::lock_guard lock(mutex_);
    ppm_[direction == Direction::input ? 0 : 1] = ppm;
}

void FakeSoundBackend::set_source(Source source) {
    std::lock_guard lock(mutex_);
    source_ = std::move(source);
}

void FakeSoundBackend::set_sink(Sink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

void FakeSoundBackend::keep_played(bool keep) {
    std::lock_guard lock(mutex_);
    keep_played_ = keep;
}

std::int64_t FakeSoundBackend::silent_played() const {
    std::lock_guard lock(mutex_);
    return silent_;
}

void FakeSoundBackend::advance(std::int64_t samples) {
    std::lock_guard lock(mutex_);
    // The samples a card moves for `step` samples of the clock, by its own rate.
    const auto card_step = [this](int which, std::int64_t step) {
        fraction_[which] += static_cast<double>(step) * (1.0 + ppm_[which] * 1e-6);
        const auto whole = static_cast<std::int64_t>(fraction_[which]);
        fraction_[which] -= static_cast<double>(whole);
        return static_cast<std::size_t>(whole);
    };
    while (samples > 0) {
        const std::int64_t step = std::min<std::int64_t>(samples, chunk_);
        // One callback per direction, as a duplex sound card would make them.
        const std::size_t in_count = card_step(0, step);
        if (input_.running && !input_.vanished && input_ring_) {
            scratch_.resize(in_count);
            if (source_) {
                source_(produced_, scratch_.data(), in_count);
            } else {
                for (std::size_t i = 0; i < in_count; ++i) {
                    scratch_[i] = ramp(produced_ + static_cast<std::int64_t>(i));
                }
            }
            produced_ += static_cast<std::int64_t>(in_count);
            lost_ += static_cast<std::int64_t>(input_ring_->capture(scratch_.data(), in_count));
        }
        const std::size_t out_count = card_step(1, step);
        if (output_.running && !output_.vanished && output_ring_) {
            scratch_.resize(out_count);
            silent_ += static_cast<std::int64_t>(output_ring_->play(scratch_.data(), out_count));
            if (keep_played_) played_.insert(played_.end(), scratch_.begin(), scratch_.end());
            if (sink_) sink_(scratch_.data(), out_count);
        }
        clock_ += step;
        samples -= step;
    }
}

std::vector<FakeSoundBackend::OpenRecord> FakeSoundBackend::opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

int FakeSoundBackend::open_count(Direction direction) const {
    std::lock_guard lock(mutex_);
    return dev(direction).opens;
}

bool FakeSoundBackend::is_open(Direction direction) const {
    std::lock_guard lock(mutex_);
    return dev(direction).open;
}

bool FakeSoundBackend::is_running(Direction direction) const {
    std::lock_guard lock(mutex_);
    return dev(direction).running;
}

std::vector<std::int16_t> FakeSoundBackend::played() const {
    std::lock_guard lock(mutex_);
    return played_;
}

std::int64_t FakeSoundBackend::produced() const {
    std::lock_guard lock(mutex_);
    return produced_;
}

std::int64_t FakeSoundBackend::lost() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

std::int64_t FakeSoundBackend::clock() const {
    std::lock_guard lock(mutex_);
    return clock_;
}

int FakeSoundBackend::device_count(Direction direction) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(dev(direction).names.size());
}

std::string FakeSoundBackend::device_name(Direction direction, int index) const {
    std::lock_guard lock(mutex_);
    const auto& names = dev(direction).names;
    return index >= 0 && index < static_cast<int>(names.size()) ? names[index] : std::string();
}

bool FakeSoundBackend::open_device(Direction direction, int index) {
    Device& d = dev(direction);
    opens_.push_back({direction, index});
    ++d.opens;
    const bool exists =
        index == -1 ? !d.names.empty() : index >= 0 && index < static_cast<int>(d.names.size());
    if (d.fail_open || !exists) return false;
    d.open = true;
    d.running = false;
    d.vanished = false;
    return true;
}

bool FakeSoundBackend::open_input(int index, int rate, InputRing& ring) {
    std::lock_guard lock(mutex_);
    if (rate != rate_ || !open_device(Direction::input, index)) return false;
    input_ring_ = &ring;
    return true;
}

bool FakeSoundBackend::open_output(int index, int rate, OutputRing& ring) {
    std::lock_guard lock(mutex_);
    if (rate != rate_ || !open_device(Direction::output, index)) return false;
    output_ring_ = &ring;
    return true;
}

bool FakeSoundBackend::start(Direction direction) {
    std::lock_guard lock(mutex_);
    Device& d = dev(direction);
    if (!d.open) return false;
    d.running = true;
    return true;
}

bool FakeSoundBackend::reset(Direction direction) {
    std::lock_guard lock(mutex_);
    Device& d = dev(direction);
    d.running = false;
    return !(d.open && d.fail_reset);
}

bool FakeSoundBackend::close(Direction direction) {
    std::lock_guard lock(mutex_);
    Device& d = dev(direction);
    const bool was_open = d.open;
    d.open = d.running = d.vanished = false;
    if (direction == Direction::input) {
        input_ring_ = nullptr;
    } else {
        output_ring_ = nullptr;
    }
    return !(was_open && d.fail_close);
}

std::int64_t FakeSoundBackend::to_samples(std::chrono::nanoseconds t) const {
    // Rounded up, so that a wait never ends before its limit.
    return (t.count() * rate_ + 999'999'999) / 1'000'000'000;
}

std::chrono::nanoseconds FakeSoundBackend::now() {
    if (clock_mode_ == Clock::external) {
        return std::chrono::steady_clock::now().time_since_epoch();
    }
    std::lock_guard lock(mutex_);
    return std::chrono::nanoseconds(clock_ * 1'000'000'000 / rate_);
}

void FakeSoundBackend::wait(const CompletionSignal& signal, std::uint32_t seen,
                            std::chrono::nanoseconds limit) {
    if (clock_mode_ == Clock::external) {
        signal.wait(seen, limit);
        return;
    }
    std::int64_t remaining = to_samples(limit);
    while (remaining > 0 && signal.value() == seen) {
        std::int64_t step = 0;
        {
            std::lock_guard lock(mutex_);
            step = std::min<std::int64_t>(remaining, chunk_);
        }
        advance(step);
        remaining -= step;
    }
}

void FakeSoundBackend::sleep(std::chrono::nanoseconds duration) {
    if (clock_mode_ == Clock::external) {
        std::this_thread::sleep_for(duration);
        return;
    }
    advance(to_samples(duration));
}

FakeDeviceThread::FakeDeviceThread(FakeSoundBackend& fake, std::chrono::milliseconds period)
    : thread_([this, &fake, period] {
          while (!stop_.load()) {
              fake.advance(480);
              std::this_thread::sleep_for(period);
          }
      }) {}

FakeDeviceThread::~FakeDeviceThread() {
    stop_.store(true);
    thread_.join();
}

}  // namespace tarpo::sound
