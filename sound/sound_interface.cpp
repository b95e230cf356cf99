#include "sound/sound_interface.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace tarpo::sound {

namespace {

constexpr const char* no_device_text = "No audio device found.";
constexpr const char* in_open_text = "Sound Interface Start, waveInOpen() failed.";
constexpr const char* out_open_text = "Sound Interface Start, waveOutOpen() failed.";
constexpr const char* in_reset_text = "Sound Interface, waveInReset() failed.";
constexpr const char* in_unprepare_text = "Sound Interface, waveInUnprepareHeader() failed.";
constexpr const char* in_close_text = "Sound Interface, waveInClose() failed.";
constexpr const char* out_reset_text = "Sound Interface, waveOutReset() failed.";
constexpr const char* out_unprepare_text = "Sound Interface, waveOutUnprepareHeader() failed.";
constexpr const char* out_close_text = "Sound Interface, waveOutClose() failed.";

// A trimmed block must fit its output slot.
static_assert(FillTrim::max_step <= max_trim);

// The time the sound-system stop waits for the device to hand back its buffers.
constexpr std::chrono::milliseconds stop_settle{500};

// A loop-device sample to 16 bits: truncation toward zero, after limiting to the 16-bit range
// (the library may deliver anything; NaN becomes 0).
std::int16_t to_sample(double v) {
    if (!(v == v)) return 0;
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

void copy_name(std::array<char, device_name_size>& slot, const std::string& name) {
    const std::size_t n = std::min(name.size(), slot.size() - 1);
    std::memcpy(slot.data(), name.data(), n);
    slot[n] = '\0';
}

}  // namespace

void SoundDiagnostics::print(const char* text) {
    // One message a line, so that the next one (or the shell's prompt) starts afresh.
    std::fputs(text, stdout);
    const std::size_t n = std::strlen(text);
    if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stdout);
    std::fflush(stdout);
}

SoundInterface::SoundInterface(SoundBackend& backend, LoopLibrary& loop)
    : backend_(backend), loop_(loop), diagnostics_(&default_diagnostics_) {}

SoundInterface::SoundInterface(SoundBackend& backend, LoopLibrary& loop,
                               SoundDiagnostics& diagnostics)
    : backend_(backend), loop_(loop), diagnostics_(&diagnostics) {}

SoundInterface::~SoundInterface() {
    // The rings die with this object: no device may keep running on them.
    if (in_.open) backend_.close(Direction::input);
    if (out_.open) backend_.close(Direction::output);
}

std::uint64_t SoundInterface::pack(int device, bool blocking, bool loop, StreamRole role) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(device)) |
           (blocking ? std::uint64_t{1} << 32 : 0) | (loop ? std::uint64_t{1} << 33 : 0) |
           static_cast<std::uint64_t>(role) << 34;
}

void SoundInterface::init(int rate) {
    loop_present_ = loop_.load();
    if (in_.open) backend_.close(Direction::input);
    if (out_.open) backend_.close(Direction::output);
    in_.open = out_.open = false;
    rate_ = rate > 0 ? rate : 48000;

    input_count_ = std::clamp(backend_.device_count(Direction::input), 0, max_listed_devices);
    output_count_ = std::clamp(backend_.device_count(Direction::output), 0, max_listed_devices);
    input_names_.assign(static_cast<std::size_t>(input_count_) + 1, {});
    output_names_.assign(static_cast<std::size_t>(output_count_) + 1, {});
    input_ids_.assign(static_cast<std::size_t>(input_count_) + 1, {});
    output_ids_.assign(static_cast<std::size_t>(output_count_) + 1, {});
    if (input_count_ == 0 || output_count_ == 0) print(no_device_text);
    for (int i = 0; i < input_count_; ++i) {
        copy_name(input_names_[i], backend_.device_name(Direction::input, i));
        input_ids_[i] = backend_.device_id(Direction::input, i);
    }
    for (int i = 0; i < output_count_; ++i) {
        copy_name(output_names_[i], backend_.device_name(Direction::output, i));
        output_ids_[i] = backend_.device_id(Direction::output, i);
    }
    if (loop_present_) {
        input_ids_[input_count_] = loop_input_name;
        copy_name(input_names_[input_count_++], loop_input_name);
        output_ids_[output_count_] = loop_output_name;
        copy_name(output_names_[output_count_++], loop_output_name);
    }

    in_.choice.store(pack(0, true, false, StreamRole::rx_input), std::memory_order_release);
    out_.choice.store(pack(0, false, false, StreamRole::voice_output), std::memory_order_release);
    in_.reopen.store(true, std::memory_order_release);
    out_.reopen.store(true, std::memory_order_release);
}

const char* SoundInterface::input_name(int index) const {
    return index >= 0 && index < input_count_ ? input_names_[index].data() : "";
}

const char* SoundInterface::output_name(int index) const {
    return index >= 0 && index < output_count_ ? output_names_[index].data() : "";
}

const std::string& SoundInterface::input_id(int index) const {
    static const std::string none;
    return index >= 0 && index < input_count_ ? input_ids_[index] : none;
}

const std::string& SoundInterface::output_id(int index) const {
    static const std::string none;
    return index >= 0 && index < output_count_ ? output_ids_[index] : none;
}

std::optional<int> SoundInterface::find_input(std::string_view name) const {
    for (int i = 0; i < input_count_; ++i) {
        if (name == input_names_[i].data() || name == input_ids_[i]) return i;
    }
    return std::nullopt;
}

std::optional<int> SoundInterface::find_output(std::string_view name) const {
    for (int i = 0; i < output_count_; ++i) {
        if (name == output_names_[i].data() || name == output_ids_[i]) return i;
    }
    return std::nullopt;
}

void SoundInterface::select(DirectionState& d, int count, int device, bool blocking,
                            StreamRole role) {
    if (device >= count) device = -1;
    const bool loop = loop_present_ && device + 1 == count;
    // The choice first, then the mark: a worker that sees the mark sees this choice or a
    // later one.
    d.choice.store(pack(device, blocking, loop, role), std::memory_order_release);
    d.reopen.store(true, std::memory_order_release);
}

void SoundInterface::select_input(int device, bool blocking, StreamRole role) {
    select(in_, input_count_, device, blocking, role);
}

void SoundInterface::select_output(int device, bool blocking, StreamRole role) {
    select(out_, output_count_, device, blocking, role);
}

bool SoundInterface::output_is_loop() const {
    return (out_.choice.load(std::memory_order_acquire) >> 33) & 1;
}

void SoundInterface::latch(DirectionState& d) {
    // The mark is cleared before the choice is read: a selection arriving in between sets the
    // mark again and is taken at the next read or write.
    d.reopen.store(false, std::memory_order_seq_cst);
    const std::uint64_t choice = d.choice.load(std::memory_order_seq_cst);
    d.device = static_cast<std::int32_t>(static_cast<std::uint32_t>(choice));
    d.blocking = (choice >> 32) & 1;
    d.loop = (choice >> 33) & 1;
    d.role = static_cast<StreamRole>((choice >> 34) & 3);
    d.dead = d.stalled = d.reported = false;
}

void SoundInterface::mark_failed(DirectionState& d, const char* text) {
    d.dead = true;
    report_failure(d, text);
}

void SoundInterface::report_failure(DirectionState& d, const char* text) {
    d.reported = true;
    print(text);
    const std::string why = backend_.problem(&d == &in_ ? Direction::input : Direction::output);
    if (!why.empty()) print(why.c_str());
}

void SoundInterface::reopen(Direction direction) {
    const bool input = direction == Direction::input;
    DirectionState& d = input ? in_ : out_;
    if (d.open) {
        backend_.reset(direction);
        backend_.close(direction);
        d.open = false;
    }
    latch(d);
    if (d.loop) return;
    // A sound-card output never leaves the loop device keyed.
    if (!input && loop_present_) loop_.set_ptt(0);
    backend_.set_stream(direction, d.role, d.n);
    d.open = input ? backend_.open_input(d.device, rate_, in_ring_)
                   : backend_.open_output(d.device, rate_, out_ring_);
    if (!d.open) mark_failed(d, input ? in_open_text : out_open_text);
}

void SoundInterface::start_input(int n) {
    // A new block size reopens the device too: a server's stream is asked for its buffering
    // by the block.
    const int size = std::clamp(n, 1, max_block_samples);
    const bool resized = size != in_.n;
    in_.n = size;
    if (resized || in_.reopen.load(std::memory_order_acquire)) reopen(Direction::input);
    if (in_.loop) {
        loop_.init_rx_recording(loop_rate, in_.n);
        return;
    }
    backend_.reset(Direction::input);
    in_ring_.prepare(in_.n);
    in_priming_ = true;
    input_gaps_.store(0, std::memory_order_relaxed);
    in_trim_.reset(in_.n);
    if (in_.open && !backend_.start(Direction::input)) {
        backend_.close(Direction::input);
        in_.open = false;
        mark_failed(in_, in_open_text);
    }
}

void SoundInterface::start_output(int n) {
    out_.n = std::clamp(n, 1, max_block_samples);
    reopen(Direction::output);
    if (out_.loop) {
        loop_.init_tx_playback(loop_rate, out_.n);
        return;
    }
    backend_.reset(Direction::output);
    out_ring_.prepare(out_.n);
    out_trim_.reset(out_.n);
    underruns_.store(0, std::memory_order_relaxed);
    // The cushion of silence ahead of the first real block.
    queue_silence(out_.blocking ? backend_.pace_cushion_samples(out_.n)
                                : cushion(voice_cushion, out_.n));
    if (out_.open && !backend_.start(Direction::output)) {
        backend_.close(Direction::output);
        out_.open = false;
        mark_failed(out_, out_open_text);
    }
}

std::chrono::nanoseconds SoundInterface::block_time(int n) const {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(n) * 1'000'000'000 / rate_);
}

template <typename Ready>
bool SoundInterface::wait_until(DirectionState& d, const CompletionSignal& signal, Ready ready) {
    // A live device gets a generous allowance (counted in 40 ms blocks also when the blocks
    // are smaller); a dead or stalled one paces like a device that completes nothing, one
    // block time per call, so that the worker neither hangs nor spins.
    const bool lively = !d.dead && !d.stalled;
    const auto allowance = block_time(std::max(d.n, default_block_samples)) * stall_blocks;
    const auto deadline = backend_.now() + (lively ? allowance : block_time(d.n));
    for (;;) {
        const std::uint32_t seen = signal.value();
        if (ready()) {
            d.stalled = false;
            return true;
        }
        const auto now = backend_.now();
        if (now >= deadline) break;
        backend_.wait(signal, seen, deadline - now);
    }
    if (!d.dead) d.stalled = true;
    if (!d.reported) report_failure(d, &d == &in_ ? in_open_text : out_open_text);
    return false;
}

SoundInterface::Read SoundInterface::read_block(std::int16_t* dst) {
    if (in_.reopen.load(std::memory_order_acquire)) start_input(in_.n);
    if (in_.loop) {
        if (!loop_.read_rx(loop_in_.data())) return Read::nothing;
        for (int i = 0; i < in_.n; ++i) dst[i] = to_sample(loop_in_[i]);
        return Read::delivered;
    }
    if (!in_.blocking && trim_on_) return read_free(dst);
    const int n = in_.n;
    if (in_ring_.available() < n) {
        if (!in_.blocking) return Read::nothing;
        if (!wait_until(in_, in_ring_.signal(), [this, n] { return in_ring_.available() >= n; })) {
            return Read::nothing;
        }
    }
    // Every buffer full when a block is taken: the device had nowhere to put new samples.
    const bool overrun = in_ring_.completed_count() == InputRing::slots;
    if (overrun) input_gaps_.fetch_add(1, std::memory_order_relaxed);
    in_ring_.take(dst, n);
    return overrun ? Read::overrun : Read::delivered;
}

// The microphone while sending: it is read once per block the paced output takes, and keeps
// mic_cushion beyond each read. Nothing is delivered until the cushion has been captured
// (after a start, or after a read found too little).
SoundInterface::Read SoundInterface::read_free(std::int16_t* dst) {
    const int n = in_.n;
    const int target = n + cushion(mic_cushion, n);
    std::int64_t backlog = in_ring_.available();
    if (in_priming_) {
        if (backlog < target) return Read::nothing;
        in_priming_ = false;
        in_trim_.restart();
    }
    // Just primed (reads come a block apart, so the cushion may be up to a block over), or
    // a backlog beyond the excess: the oldest samples go, down to the cushion.
    if ((backlog > target && !in_trim_.started()) ||
        backlog > target + std::int64_t{excess_blocks} * n) {
        in_ring_.skip(static_cast<int>(backlog - target));
        backlog = target;
        in_trim_.restart();
    }
    // Lengthening the queue means taking fewer samples.
    const int take = n - in_trim_.step(static_cast<double>(backlog - target));
    if (backlog < take) {
        input_gaps_.fetch_add(1, std::memory_order_relaxed);
        in_priming_ = true;
        return Read::nothing;
    }
    const bool overrun = in_ring_.completed_count() == InputRing::slots;
    if (overrun) input_gaps_.fetch_add(1, std::memory_order_relaxed);
    in_ring_.take(stretch_.data(), take);
    stretch(stretch_.data(), take, dst, n);
    return overrun ? Read::overrun : Read::delivered;
}

void SoundInterface::queue_silence(int length) {
    // A block at most a slot: a cushion of several blocks takes several.
    while (length > 0) {
        const int slot = out_ring_.highest_done();
        if (slot < 0) return;
        const int step = std::min(length, out_.n);
        std::fill_n(out_ring_.samples(slot), step, std::int16_t{0});
        out_ring_.queue(slot, step);
        length -= step;
    }
}

void SoundInterface::queue_block(const std::int16_t* src, int length_out) {
    const int slot = out_ring_.highest_done();
    if (slot < 0) return;
    stretch(src, out_.n, out_ring_.samples(slot), length_out);
    out_ring_.queue(slot, length_out);
}

bool SoundInterface::write_block(const std::int16_t* src) {
    if (out_.reopen.load(std::memory_order_acquire)) start_output(out_.n);
    if (out_.loop) {
        for (int i = 0; i < out_.n; ++i) loop_out_[i] = src[i];
        return !loop_.write_tx(loop_out_.data());
    }
    if (out_.dead) {
        // Nothing will ever play: a paced write still takes one block time.
        if (out_.blocking) wait_until(out_, out_ring_.signal(), [] { return false; });
        return true;
    }
    return out_.blocking ? write_paced(src) : write_free(src);
}

// The output that paces the phase: each write waits until no more than pace_cushion is
// queued, so the queue holds between one and two blocks.
bool SoundInterface::output_room() const {
    // Room for the block and, should the queue have run dry meanwhile, its cushion.
    const int cushion = backend_.pace_cushion_samples(out_.n);
    return out_ring_.fill() <= cushion &&
           out_ring_.completed_count() >=
               std::min(OutputRing::slots, 2 + (cushion + out_.n - 1) / out_.n);
}

void SoundInterface::wait_output() {
    if (out_.reopen.load(std::memory_order_acquire)) start_output(out_.n);
    if (out_.loop || out_.dead || !out_.blocking || output_room()) return;
    wait_until(out_, out_ring_.signal(), [this] { return output_room(); });
}

bool SoundInterface::write_paced(const std::int16_t* src) {
    const int n = out_.n;
    const std::int64_t limit = backend_.pace_cushion_samples(n);
    if (!output_room() && !wait_until(out_, out_ring_.signal(), [this] { return output_room(); }))
        return true;
    bool dry = false;
    if (out_ring_.fill() == 0) {
        // Ran dry (the worker was held up): the late block goes out behind a fresh cushion.
        underruns_.fetch_add(1, std::memory_order_relaxed);
        queue_silence(static_cast<int>(limit));
        dry = true;
    }
    queue_block(src, n);
    return dry;
}

// The voice output while receiving: never waits. Its queue is held at voice_cushion ahead of
// each write, trimmed against the drift between the cards.
bool SoundInterface::write_free(const std::int16_t* src) {
    const int n = out_.n;
    const int target = cushion(voice_cushion, n);
    const std::int64_t fill = out_ring_.fill();
    if (out_ring_.completed_count() < 2) return true;
    if (fill == 0) {
        underruns_.fetch_add(1, std::memory_order_relaxed);
        out_trim_.restart();
        queue_silence(target);
        queue_block(src, n);
        return true;
    }
    // Far more queued than the cushion (the input delivered a burst): the block is dropped.
    if (fill > target + std::int64_t{excess_blocks} * n) return true;
    const int change = trim_on_ ? out_trim_.step(static_cast<double>(fill - target)) : 0;
    queue_block(src, n + change);
    return false;
}

void SoundInterface::stop(Direction direction) {
    if (direction == Direction::input)
        stop_direction(in_, direction, in_ring_,
                       StopTexts{in_reset_text, in_unprepare_text, in_close_text});
    else
        stop_direction(out_, direction, out_ring_,
                       StopTexts{out_reset_text, out_unprepare_text, out_close_text});
}

template <typename Ring>
void SoundInterface::stop_direction(DirectionState& d, Direction direction, Ring& ring,
                                    const StopTexts& texts) {
    bool reset = true;
    if (d.open && !backend_.reset(direction)) {
        print(texts.reset);
        reset = false;
    }
    ring.signal().notify();
    backend_.sleep(stop_settle);
    if (d.open) {
        // A device that could not be reset still holds its queued buffers.
        if (!reset) {
            for (int i = 0; i < Ring::slots; ++i) {
                if (!ring.done(i)) print(texts.unprepare);
            }
        }
        if (!backend_.close(direction)) print(texts.close);
        d.open = false;
    }
    d.reopen.store(true, std::memory_order_release);
}

void SoundInterface::shutdown() {
    if (loop_present_) loop_.set_ptt(0);
    // Devices are stopped before their buffers go, so that nothing writes into freed memory.
    if (in_.open) backend_.close(Direction::input);
    if (out_.open) backend_.close(Direction::output);
    in_.open = out_.open = false;
    in_ring_.release();
    out_ring_.release();
    in_.reopen.store(true, std::memory_order_release);
    out_.reopen.store(true, std::memory_order_release);
}

}  // namespace tarpo::sound
