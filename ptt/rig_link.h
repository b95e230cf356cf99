// The link to a rig through Hamlib, on a thread of its own. Every Hamlib call runs there:
// opening the rig, keying and unkeying it, and reading its dial frequency and mode once a
// second. Other threads only say which PTT state they want (an atomic store and a semaphore
// release: the audio worker never waits on the rig) and read the latest readout, which the
// rig thread publishes through a triple buffer.
//
// Keying is a state, not a request: the thread keeps the wanted PTT state and the one the rig
// last confirmed (read back with get_ptt where the rig can tell), and sends the wanted state
// again until the two agree, also after every reconnection. A rig that stops answering is
// reported once and reopened, quickly while its PTT is not confirmed, every few seconds
// otherwise. Stopping unkeys and waits a bounded time for the rig to confirm it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "dsp/triple_buffer.h"
#include "ptt/ptt_method.h"
#include "ptt/rig_readout.h"

struct s_rig;  // Hamlib's RIG

namespace tarpo::ptt {

// Hamlib's model numbers of the two rigs the tests and the network method use.
inline constexpr int hamlib_dummy_model = 1;
inline constexpr int hamlib_net_model = 2;  // "NET rigctl": a rigctld on host:port

struct RigConfig {
    int model = hamlib_net_model;  // Hamlib's model number
    // The rig's port: a serial device ("/dev/ttyUSB0"), or "host:port" for the network rig.
    std::string pathname = "localhost:4532";
    int baud = 0;  // serial speed, bit/s; 0 leaves the model's default
    std::chrono::milliseconds poll_period{1000};
    std::chrono::milliseconds retry_period{3000};  // between attempts to reopen a lost rig
    // Between attempts while the rig's PTT is not confirmed as wanted (a lost unkey).
    std::chrono::milliseconds urgent_period{250};
    // How long stopping waits for the rig to confirm it is unkeyed.
    std::chrono::milliseconds stop_wait{4000};
    int timeout_ms = 1000;  // Hamlib's wait for one answer
    // false: the link only reads the dial and mode (PTT goes another way) and never sends or
    // reads a PTT command, whatever is requested.
    bool keys = true;
};

// Hamlib's own trace on standard error (off by default: our reports say what went wrong).
void set_hamlib_trace(bool on);

// Every model Hamlib knows, in the order of their numbers.
std::vector<RigModel> hamlib_rig_models();

class RigLink {
  public:
    // Called on the rig thread with a one-line text (no line end). The default prints the
    // text and a line end to standard error.
    using Report = std::function<void(const std::string&)>;
    // Called on the rig thread after the rig confirmed a PTT change (tests watch it).
    using PttObserver = std::function<void(bool on)>;

    explicit RigLink(RigConfig config, Report report = {}, PttObserver observer = {});
    ~RigLink();
    RigLink(const RigLink&) = delete;
    RigLink& operator=(const RigLink&) = delete;

    // Any thread; returns at once. The last state asked for is the one the link holds to.
    void request_ptt(bool on);
    // The latest published readout. One reading thread only (the user interface's).
    RigReadout readout() { return readout_.front(); }
    // Unkeys and closes the rig and ends the thread. When a key command may have reached the
    // rig since it last confirmed PTT off, waits up to stop_wait (and one Hamlib timeout) for
    // that confirmation. False, after a report, when the rig may still be keyed. Idempotent;
    // the destructor calls it.
    bool stop();

  private:
    enum class Ptt : std::uint8_t { unknown, off, on };
    void run();
    bool stop_done(std::chrono::steady_clock::time_point deadline);
    void open_rig();
    void settle_ptt(bool on);
    void read_back_ptt(bool on);
    void poll();
    void fail(const char* what, int code);
    void close_rig();
    void set_confirmed(Ptt ptt);
    // Sets the readout's wanted and confirmed PTT; true when they changed.
    bool show_wanted(bool on);
    void publish_wanted(bool on);
    bool agrees() const { return confirmed_ == (wanted_now_ ? Ptt::on : Ptt::off); }
    void publish() {
        readout_.back() = state_;
        readout_.publish();
    }
    void say(const std::string& text);

    const RigConfig config_;
    Report report_;
    PttObserver observer_;
    std::atomic<bool> wanted_{false};
    std::atomic<bool> stop_{false};
    std::counting_semaphore<> wake_{0};
    dsp::TripleBuffer<RigReadout> readout_;

    // Rig thread only.
    s_rig* rig_ = nullptr;
    RigReadout state_;
    bool wanted_now_ = false;       // the state being settled (off once stopping)
    Ptt confirmed_ = Ptt::unknown;  // as the rig last confirmed it; unknown without a link
    bool may_be_keyed_ = false;     // a key command was sent since the rig last confirmed off
    bool refused_ = false;          // the rig refused PTT commands (a model without CAT PTT)
    bool failure_reported_ = false;
    bool refusal_reported_ = false;
    bool mismatch_reported_ = false;
    bool stopped_unkeyed_ = true;
    std::thread thread_;
};

// PTT through a RigLink: key and unkey only post requests; close unkeys and stops the link.
class HamlibPtt final : public PttMethod {
  public:
    explicit HamlibPtt(RigLink& link) : link_(link) {}
    ~HamlibPtt() override { close(); }
    bool open() override { return true; }
    void key() override { link_.request_ptt(true); }
    void unkey() override { link_.request_ptt(false); }
    void close() override { link_.request_ptt(false); }

  private:
    RigLink& link_;
};

}  // namespace tarpo::ptt
