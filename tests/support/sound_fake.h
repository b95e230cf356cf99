// An in-memory sound system for tests. Its devices run on a clock that the test controls:
// advance() moves the clock, and every running device moves the samples of that time through
// its ring in callbacks of `chunk` samples, as a sound card would. The input device produces a
// known ramp, the output device records everything it plays.
//
// Two clock modes:
// - stepped (default, single thread): a blocking wait of the SoundInterface advances the
//   clock itself until the awaited block completes or the wait's limit has passed, so reads
//   and writes complete deterministically and "time" is what the fake's clock says;
// - external: waits sleep on the ring's signal for real (and now() is the steady clock), and
//   another thread drives the devices with advance(), as a real callback thread would.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/sound_backend.h"

namespace tarpo::sound {

class FakeSoundBackend final : public SoundBackend {
  public:
    enum class Clock { stepped, external };

    // rate: Hz of the clock (48000). Two input and two output devices named "in 0", "in 1",
    // "out 0", "out 1".
    explicit FakeSoundBackend(int rate = 48000, Clock clock = Clock::stepped);

    // Test controls.
    void set_devices(Direction direction, std::vector<std::string> names);
    // Stable names for the devices (by default each device's name).
    void set_ids(Direction direction, std::vector<std::string> ids);
    // What problem() tells about the direction.
    void set_problem(Direction direction, std::string text);
    void set_chunk(int samples);  // samples per device callback, >= 1 (default 480)
    void fail_open(Direction direction, bool fail);
    void fail_reset(Direction direction, bool fail);  // reset still stops, but reports failure
    void fail_close(Direction direction, bool fail);  // close still closes, but reports failure
    // The open device stops moving samples (unplugged) until it is closed.
    void vanish(Direction direction);
    // The direction's card runs `ppm` parts per million fast (negative: slow) against the
    // clock: over a second of clock it moves rate * (1 + ppm / 1e6) samples.
    void set_ppm(Direction direction, double ppm);
    // In place of the ramp, the input device takes its samples from `source` (k: the input's
    // sample number, count: samples wanted); and every sample the output plays also goes to
    // `sink`. Both run inside advance(), under the fake's lock: they must not call it.
    using Source = std::function<void(std::int64_t k, std::int16_t* out, std::size_t count)>;
    using Sink = std::function<void(const std::int16_t* samples, std::size_t count)>;
    void set_source(Source source);
    void set_sink(Sink sink);
    // Whether played() keeps what was played (on by default; off for runs of hours).
    void keep_played(bool keep);
    // Silent samples the output played for want of a queued block.
    std::int64_t silent_played() const;
    // Moves the clock by `samples`; running devices capture and play that much.
    void advance(std::int64_t samples);

    // The input device's sample number k (counted over the fake's life) is ramp(k).
    static std::int16_t ramp(std::int64_t k) { return static_cast<std::int16_t>(k % 32768); }

    struct OpenRecord {
        Direction direction;
        int device;  // as asked, -1 for the default device
    };
    std::vector<OpenRecord> opens() const;
    int open_count(Direction direction) const;
    bool is_open(Direction direction) const;
    bool is_running(Direction direction) const;
    // Every sample the output device played, silence included, in order.
    std::vector<std::int16_t> played() const;
    // Samples the input device produced, and how many of them found no free slot.
    std::int64_t produced() const;
    std::int64_t lost() const;
    // The clock, in samples since construction.
    std::int64_t clock() const;
    // The role the direction's last open was given.
    StreamRole role(Direction direction) const;

    // SoundBackend.
    int device_count(Direction direction) const override;
    std::string device_name(Direction direction, int index) const override;
    std::string device_id(Direction direction, int index) const override;
    void set_stream(Direction direction, StreamRole role, int block_samples) override;
    std::string problem(Direction direction) const override;
    bool open_input(int index, int rate, InputRing& ring) override;
    bool open_output(int index, int rate, OutputRing& ring) override;
    bool start(Direction direction) override;
    bool reset(Direction direction) override;
    bool close(Direction direction) override;
    std::chrono::nanoseconds now() override;
    void wait(const CompletionSignal& signal, std::uint32_t seen,
              std::chrono::nanoseconds limit) override;
    void sleep(std::chrono::nanoseconds duration) override;

  private:
    struct Device {
        std::vector<std::string> names;
        std::vector<std::string> ids;
        std::string problem;
        StreamRole role = StreamRole::rx_input;
        bool open = false;
        bool running = false;
        bool vanished = false;
        bool fail_open = false;
        bool fail_reset = false;
        bool fail_close = false;
        int opens = 0;
    };
    Device& dev(Direction d) { return d == Direction::input ? input_ : output_; }
    const Device& dev(Direction d) const { return d == Direction::input ? input_ : output_; }
    bool open_device(Direction direction, int index);
    std::int64_t to_samples(std::chrono::nanoseconds t) const;

    const int rate_;
    const Clock clock_mode_;
    mutable std::mutex mutex_;
    Device input_;
    Device output_;
    InputRing* input_ring_ = nullptr;
    OutputRing* output_ring_ = nullptr;
    int chunk_ = 480;
    double ppm_[2] = {0.0, 0.0};       // input, output
    double fraction_[2] = {0.0, 0.0};  // samples owed to each card, 0..1
    Source source_;
    Sink sink_;
    bool keep_played_ = true;
    std::int64_t silent_ = 0;
    std::int64_t clock_ = 0;
    std::int64_t produced_ = 0;
    std::int64_t lost_ = 0;
    std::vector<OpenRecord> opens_;
    std::vector<std::int16_t> played_;
    std::vector<std::int16_t> scratch_;
};

// The callback thread of a sound card for a fake on the external clock: from construction
// until destruction it moves 480 samples through the devices every `period` (10 ms is real
// time, shorter runs faster).
class FakeDeviceThread {
  public:
    explicit FakeDeviceThread(FakeSoundBackend& fake,
                              std::chrono::milliseconds period = std::chrono::milliseconds(10));
    ~FakeDeviceThread();
    FakeDeviceThread(const FakeDeviceThread&) = delete;
    FakeDeviceThread& operator=(const FakeDeviceThread&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tarpo::sound
