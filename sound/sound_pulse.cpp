#include "sound/sound_pulse.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <array>
#include <thread>

namespace tarpo::sound {

namespace {

constexpr std::size_t bytes_per_sample = 2;  // 16-bit mono
// The buffering the server is asked for, in samples at 48 kHz. The radio side keeps two of the
// stream's blocks queued for playing and takes recorded audio a block at a time: the modem
// signal must never run dry on a busy machine. The voice side, where a late piece costs a click
// and not a frame, is asked for 10 ms pieces and a 15 ms queue: what the server holds there is
// pure delay.
constexpr std::uint32_t radio_output_queue_blocks = 2;
constexpr std::uint32_t voice_output_queue_samples = 720;
constexpr std::uint32_t voice_request_samples = 240;
constexpr std::uint32_t voice_piece_samples = 480;

pa_buffer_attr buffer_attr(StreamRole role, int block_samples) {
    constexpr auto any = static_cast<std::uint32_t>(-1);
    const auto block = static_cast<std::uint32_t>(block_samples);
    pa_buffer_attr attr{any, any, any, any, any};
    switch (role) {
        case StreamRole::rx_input:
            attr.fragsize = block * bytes_per_sample;
            break;
        case StreamRole::voice_input:
            attr.fragsize = voice_piece_samples * bytes_per_sample;
            break;
        case StreamRole::tx_output:
            attr.tlength = radio_output_queue_blocks * block * bytes_per_sample;
            break;
        case StreamRole::voice_output:
            attr.tlength = voice_output_queue_samples * bytes_per_sample;
            attr.minreq = voice_request_samples * bytes_per_sample;
            break;
    }
    return attr;
}

// Keeps the main loop's lock for a scope.
class Locked {
  public:
    explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) {
        if (loop_) pa_threaded_mainloop_lock(loop_);
    }
    ~Locked() {
        if (loop_) pa_threaded_mainloop_unlock(loop_);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

struct Waiter {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void wake(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_signal(loop, 0);
}

void on_deadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* w = static_cast<Waiter*>(userdata);
    w->expired = true;
    wake(w->loop);
}

std::string server_reason(pa_context* context) {
    return context ? pa_strerror(pa_context_errno(context)) : "no connection to the sound server";
}

std::string shown(const PulseBackend::Device& d) {
    return d.id.empty() ? d.description : d.id;
}

void on_context_state(pa_context*, void* loop) {
    wake(static_cast<pa_threaded_mainloop*>(loop));
}

void on_stream_state(pa_stream* stream, void* userdata) {
    auto& s = *static_cast<PulseBackend::Stream*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        // Once only: the first reason is the one that matters.
        if (s.problem.empty()) {
            s.problem = "sound server device '" + s.device +
                        "': " + server_reason(pa_stream_get_context(stream));
        }
        s.running = false;
    }
    wake(s.loop);
}

// The server wants `bytes` more to play: the queued slots in order, silence between them.
void on_write(pa_stream* stream, std::size_t bytes, void* userdata) {
    auto& s = *static_cast<PulseBackend::Stream*>(userdata);
    while (s.running && bytes >= bytes_per_sample) {
        void* data = nullptr;
        std::size_t n = bytes;
        if (pa_stream_begin_write(stream, &data, &n) < 0 || !data) return;
        n = std::min(n, bytes);
        n -= n % bytes_per_sample;
        if (n == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        static_cast<OutputRing*>(s.ring)->play(static_cast<std::int16_t*>(data),
                                               n / bytes_per_sample);
        if (pa_stream_write(stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= n;
    }
}

// Recorded audio is there: into the queued slots in order; a hole (lost audio) becomes
// silence of its length, so that the timing stays whole.
void on_read(pa_stream* stream, std::size_t, void* userdata) {
    static constexpr std::array<std::int16_t, 960> silence{};
    auto& s = *static_cast<PulseBackend::Stream*>(userdata);
    for (;;) {
        const void* data = nullptr;
        std::size_t n = 0;
        if (pa_stream_peek(stream, &data, &n) < 0 || n == 0) return;
        if (s.running) {
            auto& ring = *static_cast<InputRing*>(s.ring);
            std::size_t samples = n / bytes_per_sample;
            if (data) {
                ring.capture(static_cast<const std::int16_t*>(data), samples);
            } else {
                while (samples > 0) {
                    const std::size_t k = std::min(samples, silence.size());
                    ring.capture(silence.data(), k);
                    samples -= k;
                }
            }
        }
        pa_stream_drop(stream);
    }
}

struct ListQuery {
    pa_threaded_mainloop* loop;
    std::vector<PulseBackend::Device> devices;
    bool done = false;
};

template <typename Info>
void take_device(const Info* info, int eol, void* userdata, bool monitor) {
    auto& q = *static_cast<ListQuery*>(userdata);
    if (eol) {
        q.done = true;
        wake(q.loop);
        return;
    }
    if (!info || !info->name) return;
    q.devices.push_back({info->name, info->description ? info->description : info->name, monitor});
}

void on_source(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    take_device(info, eol, userdata, info && info->monitor_of_sink != PA_INVALID_INDEX);
}

void on_sink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    take_device(info, eol, userdata, false);
}

}  // namespace

PulseBackend::PulseBackend(std::chrono::milliseconds timeout) : timeout_(timeout) {
    out_.role = StreamRole::tx_output;
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return;
    in_.loop = out_.loop = loop_;
    if (pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        return;
    }
    Locked lock(loop_);
    connected_ = connect();
    if (connected_) read_lists();
}

PulseBackend::~PulseBackend() {
    if (!loop_) return;
    {
        Locked lock(loop_);
        drop_stream(in_);
        drop_stream(out_);
        disconnect();
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

template <typename Done>
bool PulseBackend::wait_loop(Done done, std::chrono::milliseconds limit) {
    if (done()) return true;
    Waiter waiter{loop_, false};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    pa_time_event* deadline = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(limit.count()) * 1000, on_deadline,
        &waiter);
    if (!deadline) return done();
    while (!done() && !waiter.expired) pa_threaded_mainloop_wait(loop_);
    api->time_free(deadline);
    return done();
}

bool PulseBackend::ready_context() const {
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseBackend::connect() {
    disconnect();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "TARPO");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "tarpo");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "tarpo");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "TARPO", props);
    pa_proplist_free(props);
    if (!context_) return false;
    pa_context_set_state_callback(context_, on_context_state, loop_);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        disconnect();
        return false;
    }
    wait_loop(
        [this] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeout_);
    if (ready_context()) return true;
    disconnect();
    return false;
}

void PulseBackend::disconnect() {
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void PulseBackend::read_lists() {
    // The callbacks fill these on the main loop's thread while this one waits.
    ListQuery sources{loop_, {}, false}, sinks{loop_, {}, false};
    pa_operation* a = pa_context_get_source_info_list(context_, on_source, &sources);
    pa_operation* b = pa_context_get_sink_info_list(context_, on_sink, &sinks);
    wait_loop(
        [&] {
            return (!a || pa_operation_get_state(a) != PA_OPERATION_RUNNING) &&
                   (!b || pa_operation_get_state(b) != PA_OPERATION_RUNNING);
        },
        timeout_);
    if (a) {
        pa_operation_cancel(a);
        pa_operation_unref(a);
    }
    if (b) {
        pa_operation_cancel(b);
        pa_operation_unref(b);
    }
    if (!sources.done || !sinks.done) return;
    // Real inputs first, the monitors of sinks after them.
    std::stable_partition(sources.devices.begin(), sources.devices.end(),
                          [](const Device& d) { return !d.monitor; });
    inputs_.push_back({"", pulse_default_input, false});
    inputs_.insert(inputs_.end(), sources.devices.begin(), sources.devices.end());
    outputs_.push_back({"", pulse_default_output, false});
    outputs_.insert(outputs_.end(), sinks.devices.begin(), sinks.devices.end());
}

int PulseBackend::device_count(Direction direction) const {
    return static_cast<int>(direction == Direction::input ? inputs_.size() : outputs_.size());
}

std::string PulseBackend::device_name(Direction direction, int index) const {
    const auto& list = direction == Direction::input ? inputs_ : outputs_;
    return index >= 0 && index < static_cast<int>(list.size()) ? list[index].description
                                                               : std::string();
}

std::string PulseBackend::device_id(Direction direction, int index) const {
    const auto& list = direction == Direction::input ? inputs_ : outputs_;
    if (index < 0 || index >= static_cast<int>(list.size())) return {};
    if (!list[index].id.empty()) return list[index].id;
    return direction == Direction::input ? "@DEFAULT_SOURCE@" : "@DEFAULT_SINK@";
}

void PulseBackend::set_stream(Direction direction, StreamRole role, int block_samples) {
    Locked lock(loop_);
    stream_of(direction).role = role;
    stream_of(direction).block_samples = block_samples;
}

std::string PulseBackend::problem(Direction direction) const {
    Locked lock(loop_);
    return stream_of(direction).problem;
}

void PulseBackend::drop_stream(Stream& s) {
    s.running = false;
    if (!s.stream) return;
    pa_stream_set_state_callback(s.stream, nullptr, nullptr);
    pa_stream_set_read_callback(s.stream, nullptr, nullptr);
    pa_stream_set_write_callback(s.stream, nullptr, nullptr);
    pa_stream_disconnect(s.stream);
    pa_stream_unref(s.stream);
    s.stream = nullptr;
}

bool PulseBackend::open(Direction direction, int index, int rate, void* ring) {
    const bool input = direction == Direction::input;
    const auto& list = input ? inputs_ : outputs_;
    Stream& s = stream_of(direction);
    Locked lock(loop_);
    drop_stream(s);
    s.problem.clear();
    const Device* device = nullptr;
    if (index == -1 && !list.empty()) device = &list[0];
    if (index >= 0 && index < static_cast<int>(list.size())) device = &list[index];
    s.device = device ? shown(*device) : "entry " + std::to_string(index);
    auto fail = [&s](const std::string& why) {
        s.problem = "sound server device '" + s.device + "': " + why;
        return false;
    };
    if (!loop_) return fail("the sound server's client library could not start");
    if (!device) return fail("no such device");
    // A server that went away and came back is connected to afresh.
    if (!ready_context() && !connect()) return fail(server_reason(context_));

    const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate), 1};
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "phone");
    s.stream =
        pa_stream_new_with_proplist(context_, stream_role_name(s.role), &spec, nullptr, props);
    pa_proplist_free(props);
    if (!s.stream) return fail(server_reason(context_));
    s.ring = ring;
    pa_stream_set_state_callback(s.stream, on_stream_state, &s);
    if (input) {
        pa_stream_set_read_callback(s.stream, on_read, &s);
    } else {
        pa_stream_set_write_callback(s.stream, on_write, &s);
    }
    pa_buffer_attr attr = buffer_attr(s.role, s.block_samples);
    // The default entry may follow the server's default; a chosen device is kept.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                                (device->id.empty() ? 0 : PA_STREAM_DONT_MOVE));
    const char* name = device->id.empty() ? nullptr : device->id.c_str();
    const int connected =
        input ? pa_stream_connect_record(s.stream, name, &attr, flags)
              : pa_stream_connect_playback(s.stream, name, &attr, flags, nullptr, nullptr);
    if (connected < 0) {
        const std::string why = server_reason(context_);
        drop_stream(s);
        return fail(why);
    }
    wait_loop(
        [&s] {
            const pa_stream_state_t state = pa_stream_get_state(s.stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        timeout_);
    if (pa_stream_get_state(s.stream) == PA_STREAM_READY) return true;
    const std::string why = s.problem.empty() ? "the sound server did not answer" : "";
    drop_stream(s);
    if (!why.empty()) fail(why);
    return false;
}

bool PulseBackend::open_input(int index, int rate, InputRing& ring) {
    return open(Direction::input, index, rate, &ring);
}

bool PulseBackend::open_output(int index, int rate, OutputRing& ring) {
    return open(Direction::output, index, rate, &ring);
}

bool PulseBackend::start(Direction direction) {
    Stream& s = stream_of(direction);
    Locked lock(loop_);
    if (!s.stream || pa_stream_get_state(s.stream) != PA_STREAM_READY) return false;
    s.running = true;
    // What the server asked for while the stream was stopped is written now, before it runs.
    if (direction == Direction::output) {
        const std::size_t writable = pa_stream_writable_size(s.stream);
        if (writable != static_cast<std::size_t>(-1)) on_write(s.stream, writable, &s);
    }
    if (pa_operation* op = pa_stream_cork(s.stream, 0, nullptr, nullptr)) {
        pa_operation_unref(op);
        return true;
    }
    s.running = false;
    return false;
}

bool PulseBackend::reset(Direction direction) {
    Stream& s = stream_of(direction);
    Locked lock(loop_);
    // Under the lock no callback runs: once the flag is down none touches the ring again.
    s.running = false;
    if (!s.stream || pa_stream_get_state(s.stream) != PA_STREAM_READY) return true;
    // Corked and emptied: queued output is thrown away, recorded audio not yet taken too.
    if (pa_operation* op = pa_stream_cork(s.stream, 1, nullptr, nullptr)) pa_operation_unref(op);
    if (pa_operation* op = pa_stream_flush(s.stream, nullptr, nullptr)) pa_operation_unref(op);
    return true;
}

bool PulseBackend::close(Direction direction) {
    Locked lock(loop_);
    drop_stream(stream_of(direction));
    return true;
}

std::chrono::nanoseconds PulseBackend::now() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

void PulseBackend::wait(const CompletionSignal& signal, std::uint32_t seen,
                        std::chrono::nanoseconds limit) {
    signal.wait(seen, limit);
}

void PulseBackend::sleep(std::chrono::nanoseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace tarpo::sound
