// Mouth-to-ear delay and where it goes. Station A's microphone and station B's speaker run on
// one clock; the delay is where B's speaker output best matches A's microphone input
// (cross-correlation of their envelopes over bursts of a voiced sound at irregular times).
//
// Three measurements:
//  1. The signal's floor: A's transmit pass straight into B's receive pass, block by block,
//     plus the one block a real-time station must gather before it can start on it; and the
//     codec alone (encode and decode of the same blocks), which splits the floor into the
//     codec and the modem (filters, frame assembly, the receiver's look-ahead).
//  2. Each sound queue on its own: the sound interface on the fake sound system (stepped
//     clock, 10 ms callbacks) in the worker's two patterns, with its fill sampled at every
//     block: receive (paced by the rx input, the voice output keeping up) and transmit
//     (paced by the tx output, the microphone keeping up).
//  3. End to end: two whole engines with their audio workers, A sending and B receiving, on
//     fake sound cards driven in real time by one thread (10 ms callbacks), the radio path
//     either the SDR loop device (the real loop code over UDP on 127.0.0.1, as two instances
//     on one machine use it) or a cable from A's tx card to B's rx card.
//  4. With --pulse (run it through bench/voice/pulse_delay.sh): the two engines on the native
//     backend over a real PulseAudio server instead. The bench plays the microphone into sink
//     "mic" and A records "mic.monitor"; A transmits into sink "air", B receives from
//     "air.monitor" and plays into sink "ear". The three are mono remaps of the channels of
//     one null sink "probe", whose monitor the bench records: its channels show, sample for
//     sample on the server's one clock, the microphone, the radio signal and the speaker.
//
// Usage: delay_bench [--seconds S] [--pulse | --soak]   (default 12 s per end-to-end run)
//     --soak: over the server, the first scenario over the loop device only, for S seconds
#include <pulse/error.h>
#include <pulse/simple.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/ready_station.h"
#include "engine/worker.h"
#include "loop/loop_device.h"
#include "modem/constants.h"
#include "sound/sound_interface.h"
#include "sound/sound_pulse.h"
#include "tests/support/serial_fake.h"
#include "tests/support/sound_fake.h"

using namespace tarpo;
namespace fs = std::filesystem;

namespace {

constexpr int rate = 48000;
constexpr int n = modem::block_samples;  // 1920
constexpr int frame = 120;               // envelope frames: 2.5 ms
constexpr double ms_per_sample = 1000.0 / rate;

// The microphone: bursts of a voiced sound (harmonics of 140 Hz up to 3.4 kHz, soft edges),
// 200..400 ms long with 300..900 ms of silence between them, seeded.
class Programme {
  public:
    explicit Programme(double seconds) {
        std::mt19937 rng(7);
        const auto total = static_cast<std::size_t>(seconds * rate);
        samples_.assign(total, 0);
        std::size_t at = rate / 2;
        while (at < total) {
            const std::size_t on = static_cast<std::size_t>((200 + rng() % 200) * rate / 1000);
            for (std::size_t i = 0; i < on && at + i < total; ++i) {
                const double t = static_cast<double>(i) / rate;
                const double edge =
                    std::min({1.0, t / 0.01, (static_cast<double>(on - i) / rate) / 0.01});
                double v = 0.0;
                for (int k = 1; k * 140 < 3400; ++k) v += std::sin(2 * M_PI * 140 * k * t) / k;
                samples_[at + i] = static_cast<std::int16_t>(std::lround(4000.0 * edge * v));
            }
            at += on + static_cast<std::size_t>((300 + rng() % 600) * rate / 1000);
        }
    }
    std::int16_t at(std::int64_t k) const {
        return k >= 0 && static_cast<std::size_t>(k) < samples_.size() ? samples_[k] : 0;
    }
    std::size_t size() const { return samples_.size(); }

  private:
    std::vector<std::int16_t> samples_;
};

std::vector<double> envelope(const std::vector<std::int16_t>& x) {
    std::vector<double> e(x.size() / frame, 0.0);
    for (std::size_t f = 0; f < e.size(); ++f) {
        double s = 0;
        for (int i = 0; i < frame; ++i) s += std::abs(static_cast<double>(x[f * frame + i]));
        e[f] = s / frame;
    }
    return e;
}

// The lag (ms) at which `out` best matches `in`, over [from, to) seconds of `in`; -1 when
// the output is silent there.
double delay_ms(const std::vector<std::int16_t>& in, const std::vector<std::int16_t>& out,
                double from, double to, double max_ms = 1000.0) {
    const auto a = envelope(in);
    const auto b = envelope(out);
    const auto f0 = static_cast<std::size_t>(from * rate / frame);
    const auto f1 = std::min(static_cast<std::size_t>(to * rate / frame), a.size());
    const auto max_lag = static_cast<std::size_t>(max_ms / (frame * ms_per_sample));
    double best = 0.0, energy = 0.0;
    std::size_t best_lag = 0;
    for (std::size_t lag = 0; lag < max_lag; ++lag) {
        double s = 0.0, eb = 0.0;
        for (std::size_t f = f0; f < f1 && f + lag < b.size(); ++f) {
            s += a[f] * b[f + lag];
            eb += b[f + lag] * b[f + lag];
        }
        const double score = eb > 0 ? s / std::sqrt(eb) : 0.0;
        if (score > best) {
            best = score;
            best_lag = lag;
        }
        energy = std::max(energy, eb);
    }
    if (energy <= 0) return -1.0;
    return static_cast<double>(best_lag) * frame * ms_per_sample;
}

std::vector<std::int16_t> programme_block(const Programme& p, std::int64_t first) {
    std::vector<std::int16_t> b(n);
    for (int i = 0; i < n; ++i) b[i] = p.at(first + i);
    return b;
}

struct Collect final : engine::ReceiveSink {
    std::vector<std::int16_t> out;
    std::int64_t block = 0;
    void voice_block(const std::int16_t* b) override {
        // Each voice block at its own block's place (or just after the last one).
        const std::size_t at = std::max(out.size(), static_cast<std::size_t>(block * n));
        out.resize(at, 0);
        out.insert(out.end(), b, b + n);
    }
};

// 1. The signal's floor, in ms without the gathering block.
struct Floor {
    double digital_enhanced = 0, digital_differential = 0, analog = 0, codec = 0;
};

double passes_delay(bool analog, bool enhanced, const Programme& p) {
    auto a = engine::make_station();
    auto b = engine::make_station();
    a->controls.analog_mode = analog ? 1 : 0;
    b->controls.analog_mode = analog ? 1 : 0;
    b->controls.enhanced_receiver = enhanced ? 1 : 0;
    b->controls.sq_level = 15;
    Collect sink;
    const std::int64_t blocks = static_cast<std::int64_t>(p.size()) / n;
    for (std::int64_t k = 0; k < blocks; ++k) {
        auto mic = programme_block(p, k * n);
        const std::int16_t* air = a->passes.transmit_block(mic.data(), false);
        std::vector<std::int16_t> copy(air, air + n);
        sink.block = k;
        b->passes.receive_block(copy.data(), sink);
    }
    std::vector<std::int16_t> in(p.size());
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = p.at(static_cast<std::int64_t>(i));
    return delay_ms(in, sink.out, 3.0, static_cast<double>(p.size()) / rate - 1.0);
}

double codec_delay(const Programme& p) {
    auto s = engine::make_station();
    s->adapter.init();
    std::vector<std::int16_t> out;
    std::array<std::uint8_t, 64> bits{};
    std::vector<std::int16_t> block(n);
    for (std::size_t k = 0; (k + 1) * n <= p.size(); ++k) {
        auto mic = programme_block(p, static_cast<std::int64_t>(k * n));
        s->adapter.encode_block(mic.data(), bits.data());
        s->adapter.decode_block(bits.data(), block.data());
        out.insert(out.end(), block.begin(), block.end());
    }
    std::vector<std::int16_t> in(p.size());
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = p.at(static_cast<std::int64_t>(i));
    return delay_ms(in, out, 2.0, static_cast<double>(p.size()) / rate - 1.0);
}

// 2. The sound queues on the stepped fake, for blocks of `block` samples (whole blocks, or
// Analog mode's pieces): the mean fill on the non-pacing side and on the paced side over a
// minute, as delay in ms.
class Quiet : public sound::SoundDiagnostics {
  public:
    void print(const char*) override {}
};

struct QueueFigures {
    double rx_voice_out = 0;  // voice output queue ahead of a sample, receive phase
    double tx_mic = 0;        // microphone cushion beyond a read, transmit phase
    double tx_out = 0;        // tx output queue ahead of a sample, transmit phase
};

QueueFigures queue_figures(int block_samples) {
    const int minute_blocks = 1500 * n / block_samples;
    QueueFigures q;
    for (const bool pace_input : {true, false}) {
        sound::FakeSoundBackend fake;
        fake.keep_played(false);
        sound::LoopLibrary loop;
        loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
        Quiet quiet;
        sound::SoundInterface s(fake, loop, quiet);
        s.init(rate);
        s.select_input(0, pace_input);
        s.select_output(0, !pace_input);
        s.start_input(block_samples);
        s.start_output(block_samples);
        std::vector<std::int16_t> block(static_cast<std::size_t>(block_samples));
        double in_sum = 0, out_sum = 0;
        int count = 0;
        for (int k = 0; k < minute_blocks; ++k) {
            s.wait_output();  // as the worker's transmit phase does
            s.read_block(block.data());
            const double backlog = static_cast<double>(s.input_backlog());
            s.write_block(block.data());
            if (k < minute_blocks / 30) continue;
            // A block written on top of `fill - n` queued samples: its first sample waits
            // for those to play.
            in_sum += backlog;
            out_sum += static_cast<double>(s.output_fill() - block_samples);
            ++count;
        }
        if (pace_input) {
            q.rx_voice_out = out_sum / count * ms_per_sample;
        } else {
            q.tx_mic = in_sum / count * ms_per_sample;
            q.tx_out = out_sum / count * ms_per_sample;
        }
    }
    return q;
}

// 3. End to end.
struct LoopPair {
    std::unique_ptr<loop::LoopTransmitter> tx;
    std::unique_ptr<loop::LoopReceiver> rx;
};
LoopPair loop_pair;

void a_set_ptt(int on) {
    loop_pair.tx->set_ptt(on);
}
void a_init_rx(int, int) {}
int a_read_rx(double*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    return 0;
}
void a_init_tx(int r, int size) {
    loop_pair.tx->init_tx_playback(r, size);
}
int a_write_tx(double* s) {
    return loop_pair.tx->write_tx(s);
}
void b_set_ptt(int) {}
void b_init_rx(int r, int size) {
    loop_pair.rx->init_rx_recording(r, size);
}
int b_read_rx(double* s) {
    return loop_pair.rx->read_rx(s);
}
void b_init_tx(int, int) {}
int b_write_tx(double*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    return 1;
}

struct Notifier final : engine::WorkerNotifier {
    void rsid_report(const char*) override {}
};

struct Scenario {
    const char* name;
    bool analog;
    bool enhanced;
    bool txid;
};

// A sends to B over the loop device (the real loop code over UDP on 127.0.0.1), or neither
// has one.
void use_loop_device(engine::Engine& a, engine::Engine& b, bool on) {
    if (!on) {
        a.loop().use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
        b.loop().use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
        return;
    }
    const std::string dir = "/tmp/delay_bench_" + std::to_string(getpid());
    fs::create_directories(dir);
    const int base = 20000 + static_cast<int>(getpid() % 20000);
    std::ofstream(dir + "/a.txt") << "rx_port " << base + 4 << "\ntx_port " << base << "\n";
    std::ofstream(dir + "/b.txt") << "rx_port " << base << "\ntx_port " << base + 2 << "\n";
    loop_pair.tx = std::make_unique<loop::LoopTransmitter>(dir + "/a.txt");
    loop_pair.rx = std::make_unique<loop::LoopReceiver>(dir + "/b.txt");
    a.loop().use_entry_points(a_set_ptt, a_init_rx, a_read_rx, a_init_tx, a_write_tx);
    b.loop().use_entry_points(b_set_ptt, b_init_rx, b_read_rx, b_init_tx, b_write_tx);
}

double end_to_end(const Scenario& sc, bool over_loop, double seconds, const Programme& p,
                  int* underruns) {
    using namespace std::chrono;
    sound::FakeSoundBackend fa{rate, sound::FakeSoundBackend::Clock::external};
    sound::FakeSoundBackend fb{rate, sound::FakeSoundBackend::Clock::external};
    fa.keep_played(false);
    fb.keep_played(false);
    std::int64_t clock = 0;  // the one clock: samples since the start of the run
    std::deque<std::int16_t> cable;
    std::vector<std::int16_t> speaker;
    fa.set_source([&](std::int64_t, std::int16_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) out[i] = p.at(clock + static_cast<std::int64_t>(i));
    });
    fa.set_sink([&](const std::int16_t* s, std::size_t count) {
        if (!over_loop) cable.insert(cable.end(), s, s + count);
    });
    fb.set_source([&](std::int64_t, std::int16_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = cable.empty() ? 0 : cable.front();
            if (!cable.empty()) cable.pop_front();
        }
    });
    fb.set_sink([&](const std::int16_t* s, std::size_t count) {
        speaker.resize(static_cast<std::size_t>(clock), 0);
        speaker.insert(speaker.end(), s, s + count);
    });
    ptt::FakeSerialLines lines_a, lines_b;
    const ptt::SerialPortDirs dirs{"/nonexistent/dev", "/nonexistent/sys"};
    auto a = std::make_unique<engine::Engine>(fa, lines_a, engine::AudioWorker::Sleep{}, dirs);
    auto b = std::make_unique<engine::Engine>(fb, lines_b, engine::AudioWorker::Sleep{}, dirs);
    use_loop_device(*a, *b, over_loop);
    a->sound_init(rate);
    b->sound_init(rate);
    const int radio = over_loop ? 2 : 0;  // "out 0", "out 1", then the loop entry
    auto& ca = a->controls();
    auto& cb = b->controls();
    ca.rx_active = 0;
    ca.tx_active = 1;
    ca.tx_output_device = radio;
    ca.voice_input_device = 0;
    ca.analog_mode = sc.analog ? 1 : 0;
    ca.txid_on = sc.txid ? 1 : 0;
    cb.rx_input_device = radio;
    cb.voice_output_device = 0;
    cb.analog_mode = sc.analog ? 1 : 0;
    cb.enhanced_receiver = sc.enhanced ? 1 : 0;
    cb.rxid_on = sc.txid ? 1 : 0;
    cb.sq_level = 15;
    Notifier na, nb;
    b->start_worker(nb);
    a->start_worker(na);
    const auto total = static_cast<std::int64_t>(seconds * rate);
    auto next = steady_clock::now();
    const std::int64_t steady = 4 * rate;  // start-up over: the receiver is in step
    int underruns_at_steady = 0;
    while (clock < total) {
        if (clock == steady) {
            underruns_at_steady =
                b->sound().output_underruns() + (over_loop ? 0 : a->sound().output_underruns());
        }
        fa.advance(480);
        fb.advance(480);
        clock += 480;
        next += microseconds(10000);
        std::this_thread::sleep_until(next);
    }
    a->stop_worker();
    b->stop_worker();
    *underruns = b->sound().output_underruns() + (over_loop ? 0 : a->sound().output_underruns()) -
                 underruns_at_steady;
    b.reset();
    a.reset();
    loop_pair = {};
    std::vector<std::int16_t> in(static_cast<std::size_t>(total));
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = p.at(static_cast<std::int64_t>(i));
    return delay_ms(in, speaker, 4.0, seconds - 1.0);
}

// 4. Over a real sound server.
struct ServerRun {
    double mouth_to_ear = -1;  // ms
    double mouth_to_air = -1;  // ms, microphone to the radio signal (analog only)
    int tx_underruns = 0;      // A's tx output, after 4 s
    int voice_underruns = 0;   // B's voice output, after 4 s
    int mic_gaps = 0;          // A's microphone input, after 4 s
    int rx_gaps = 0;           // B's rx input, after 4 s
};

// A whole stream of the bench's own on the server, with the plain blocking client API.
class ServerStream {
  public:
    ServerStream(pa_stream_direction_t dir, const char* device, int channels, int chunk) {
        pa_sample_spec spec{PA_SAMPLE_S16LE, rate, static_cast<std::uint8_t>(channels)};
        pa_channel_map map;
        pa_channel_map_init(&map);
        map.channels = static_cast<std::uint8_t>(channels);
        const pa_channel_position_t order[] = {PA_CHANNEL_POSITION_FRONT_LEFT,
                                               PA_CHANNEL_POSITION_FRONT_CENTER,
                                               PA_CHANNEL_POSITION_FRONT_RIGHT};
        if (channels == 1) map.map[0] = PA_CHANNEL_POSITION_MONO;
        for (int c = 0; channels > 1 && c < channels; ++c) map.map[c] = order[c];
        const auto bytes = static_cast<std::uint32_t>(chunk * channels * 2);
        constexpr auto any = static_cast<std::uint32_t>(-1);
        pa_buffer_attr attr{any, 2 * bytes, any, any, bytes};
        int error = 0;
        s_ =
            pa_simple_new(nullptr, "delay_bench", dir, device, "probe", &spec, &map, &attr, &error);
        if (!s_) std::fprintf(stderr, "delay_bench: %s: %s\n", device, pa_strerror(error));
    }
    ~ServerStream() {
        if (s_) pa_simple_free(s_);
    }
    ServerStream(const ServerStream&) = delete;
    ServerStream& operator=(const ServerStream&) = delete;
    bool ok() const { return s_ != nullptr; }
    bool write(const std::int16_t* x, std::size_t count) {
        int error = 0;
        return pa_simple_write(s_, x, count * 2, &error) == 0;
    }
    bool read(std::int16_t* x, std::size_t count) {
        int error = 0;
        return pa_simple_read(s_, x, count * 2, &error) == 0;
    }

  private:
    pa_simple* s_ = nullptr;
};

ServerRun over_server(const Scenario& sc, bool over_loop, double seconds, const Programme& p) {
    using namespace std::chrono;
    ServerRun run;
    constexpr int chunk = 480;  // 10 ms
    ServerStream probe(PA_STREAM_RECORD, "probe.monitor", 3, chunk);
    ServerStream mic(PA_STREAM_PLAYBACK, "mic", 1, chunk);
    sound::PulseBackend pa, pb;
    if (!probe.ok() || !mic.ok() || !pa.connected() || !pb.connected()) return run;
    ptt::FakeSerialLines lines_a, lines_b;
    const ptt::SerialPortDirs dirs{"/nonexistent/dev", "/nonexistent/sys"};
    auto a = std::make_unique<engine::Engine>(pa, lines_a, engine::AudioWorker::Sleep{}, dirs);
    auto b = std::make_unique<engine::Engine>(pb, lines_b, engine::AudioWorker::Sleep{}, dirs);
    use_loop_device(*a, *b, over_loop);
    a->sound_init(rate);
    b->sound_init(rate);
    const auto a_in = a->sound().find_input("mic.monitor");
    const auto a_out = a->sound().find_output(over_loop ? sound::loop_output_name : "air");
    const auto b_in = b->sound().find_input(over_loop ? sound::loop_input_name : "air.monitor");
    const auto b_out = b->sound().find_output("ear");
    if (!a_in || !a_out || !b_in || !b_out) {
        std::fprintf(stderr, "delay_bench: the server lacks mic, air or ear (pulse_delay.sh)\n");
        return run;
    }
    auto& ca = a->controls();
    auto& cb = b->controls();
    ca.rx_active = 0;
    ca.tx_active = 1;
    ca.tx_output_device = *a_out;
    ca.voice_input_device = *a_in;
    ca.analog_mode = sc.analog ? 1 : 0;
    ca.txid_on = sc.txid ? 1 : 0;
    cb.rx_input_device = *b_in;
    cb.voice_output_device = *b_out;
    cb.analog_mode = sc.analog ? 1 : 0;
    cb.enhanced_receiver = sc.enhanced ? 1 : 0;
    cb.rxid_on = sc.txid ? 1 : 0;
    cb.sq_level = 15;
    // The sinks render from the first read on; the stations start on a running server.
    std::vector<std::int16_t> frames(3 * chunk);
    for (int k = 0; k < 50; ++k) probe.read(frames.data(), frames.size());
    Notifier na, nb;
    b->start_worker(nb);
    a->start_worker(na);

    const auto total = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> ch[3];
    std::atomic<bool> stop{false};
    std::thread player([&] {
        std::vector<std::int16_t> block(chunk);
        for (std::int64_t at = 0; !stop.load(); at += chunk) {
            for (int i = 0; i < chunk; ++i) block[i] = p.at(at + i);
            if (!mic.write(block.data(), chunk)) break;
        }
    });
    int tx_steady = 0, voice_steady = 0, mic_steady = 0, rx_steady = 0;
    while (ch[0].size() < total && probe.read(frames.data(), frames.size())) {
        for (int i = 0; i < chunk; ++i) {
            for (int c = 0; c < 3; ++c) ch[c].push_back(frames[3 * i + c]);
        }
        if (ch[0].size() == static_cast<std::size_t>(4 * rate)) {
            tx_steady = a->sound().output_underruns();
            voice_steady = b->sound().output_underruns();
            mic_steady = a->sound().input_gaps();
            rx_steady = b->sound().input_gaps();
        }
    }
    run.tx_underruns = a->sound().output_underruns() - tx_steady;
    run.voice_underruns = b->sound().output_underruns() - voice_steady;
    run.mic_gaps = a->sound().input_gaps() - mic_steady;
    run.rx_gaps = b->sound().input_gaps() - rx_steady;
    stop = true;
    player.join();
    a->stop_worker();
    b->stop_worker();
    b.reset();
    a.reset();
    loop_pair = {};
    if (ch[0].size() < total) return run;
    // The channels as the stream's map orders them: microphone, radio signal, speaker.
    run.mouth_to_ear = delay_ms(ch[0], ch[2], 4.0, seconds - 1.0);
    if (sc.analog) run.mouth_to_air = delay_ms(ch[0], ch[1], 4.0, seconds - 1.0);
    return run;
}

void print_over_server(const Scenario* scenarios, std::size_t count, double seconds,
                       const Programme& p, bool loop_only) {
    std::printf("\nMouth to ear over a PulseAudio server, two engines (%.0f s each, from 4 s):\n",
                seconds);
    for (const bool over_loop : {true, false}) {
        if (!over_loop && loop_only) break;
        for (std::size_t k = 0; k < count; ++k) {
            const ServerRun r = over_server(scenarios[k], over_loop, seconds, p);
            std::printf(
                "  %-12s %-44s %6.1f ms  (after 4 s: underruns tx %d, voice %d; input "
                "gaps mic %d, rx %d)\n",
                over_loop ? "loop device" : "tx/rx sinks", scenarios[k].name, r.mouth_to_ear,
                r.tx_underruns, r.voice_underruns, r.mic_gaps, r.rx_gaps);
            std::fflush(stdout);
            if (r.mouth_to_air < 0) continue;
            std::printf(
                "  %-12s   of which microphone to the radio signal    %6.1f ms, radio to "
                "ear %.1f ms\n",
                "", r.mouth_to_air, r.mouth_to_ear - r.mouth_to_air);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 12.0;
    bool pulse = false, soak = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(6.0, std::atof(argv[++i]));
        } else if (std::strcmp(argv[i], "--pulse") == 0) {
            pulse = true;
        } else if (std::strcmp(argv[i], "--soak") == 0) {
            soak = pulse = true;
        } else {
            std::fprintf(stderr, "usage: delay_bench [--seconds S] [--pulse | --soak]\n");
            return 2;
        }
    }
    const Programme p(std::max(seconds, 20.0));
    const Scenario scenarios[] = {
        {"digital, enhanced receiver + soft decoding", false, true, false},
        {"digital, differential receiver", false, false, false},
        {"analog pass-through", true, false, false},
        {"digital with TXID (enhanced receiver)", false, true, true},
    };
    if (soak) {
        // One long run over the server: the queues must neither run dry nor overflow.
        print_over_server(scenarios, 1, seconds, p, true);
        return 0;
    }
    const double gather = n * ms_per_sample;

    std::printf("Signal floor (transmit pass straight into receive pass):\n");
    const double codec = codec_delay(p);
    const double enhanced = passes_delay(false, true, p);
    const double differential = passes_delay(false, false, p);
    const double analog = passes_delay(true, false, p);
    std::printf("  block gathering (the microphone block must be complete)  %6.1f ms\n", gather);
    std::printf("  codec (encoder and decoder, with their 48/8 kHz filters)  %6.1f ms\n", codec);
    std::printf("  modem, frame assembly, receiver look-ahead: enhanced     %6.1f ms\n",
                enhanced - codec);
    std::printf("                                              differential %6.1f ms\n",
                differential - codec);
    std::printf("  analog pass-through filters                              %6.1f ms\n", analog);
    std::printf("  analog mode gathers a 20 ms piece, not a block            %6.1f ms\n",
                engine::AudioWorker::analog_piece * ms_per_sample);
    std::printf("  floor: digital enhanced %.1f, digital differential %.1f, analog %.1f ms\n",
                gather + enhanced, gather + differential,
                engine::AudioWorker::analog_piece * ms_per_sample + analog);

    const QueueFigures q = queue_figures(n);
    const QueueFigures a = queue_figures(engine::AudioWorker::analog_piece);
    const double piece = engine::AudioWorker::analog_piece * ms_per_sample;
    std::printf(
        "\nSound queues (fake cards, 10 ms callbacks, mean over a minute), with 40 ms\n"
        "blocks and Analog mode's 20 ms pieces:\n");
    std::printf("  microphone cushion beyond each read (transmit)         %6.1f  %6.1f ms\n",
                q.tx_mic, a.tx_mic);
    std::printf("  tx output queue ahead of a block (transmit)            %6.1f  %6.1f ms\n",
                q.tx_out, a.tx_out);
    std::printf("  rx input: a block is read as soon as it is captured     %6.1f  %6.1f ms\n", 0.0,
                0.0);
    std::printf("  voice output queue ahead of a block (receive)          %6.1f  %6.1f ms\n",
                q.rx_voice_out, a.rx_voice_out);
    std::printf("  rx card gathering (a cable, not the loop device)       %6.1f  %6.1f ms\n",
                gather, piece);
    std::printf(
        "  expected over the loop device: digital floor + %.1f ms, analog %.1f ms;\n"
        "  over cards: digital + %.1f ms, analog %.1f ms\n",
        q.tx_mic + q.rx_voice_out, piece + analog + a.tx_mic + a.rx_voice_out,
        q.tx_mic + q.tx_out + gather + q.rx_voice_out,
        piece + analog + a.tx_mic + a.tx_out + piece + a.rx_voice_out);

    if (pulse) {
        print_over_server(scenarios, std::size(scenarios), seconds, p, false);
        return 0;
    }
    std::printf("\nMouth to ear, two engines on one clock (%.0f s each, measured from 4 s):\n",
                seconds);
    for (const bool over_loop : {true, false}) {
        for (const Scenario& sc : scenarios) {
            int underruns = 0;
            const double d = end_to_end(sc, over_loop, seconds, p, &underruns);
            std::printf("  %-12s %-44s %6.1f ms  (%d underruns after 4 s)\n",
                        over_loop ? "loop device" : "tx/rx cards", sc.name, d, underruns);
            std::fflush(stdout);
        }
    }
    return 0;
}
