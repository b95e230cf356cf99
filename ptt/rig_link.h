// The link to a rig through Hamlib, on a thread of its own. Every Hamlib call runs there:
// opening the rig, keying and unkeying it on request, and reading its dial frequency and mode
// once a second. Other threads only post PTT requests (an atomic store and a semaphore
// release: the audio worker never waits on the rig) and read the latest readout, which the
// rig thread publishes through a triple buffer.
//
// A rig that stops answering is reported once, through the report function: the link is
// closed (our side of the PTT lets go) and the rig thread tries to open it again every few
// seconds, quietly; a request made after the failure is carried out once the rig answers.
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
    int timeout_ms = 1000;                         // Hamlib's wait for one answer
};

// Every model Hamlib knows, in the order of their numbers.
std::vector<RigModel> hamlib_rig_models();

class RigLink {
  public:
    // Called on the rig thread with a one-line text (no line end). The default prints the
    // text and a line end to standard output.
    using Report = std::function<void(const std::string&)>;
    // Called on the rig thread after the rig confirmed a PTT change (tests watch it).
    using PttObserver = std::function<void(bool on)>;

    explicit RigLink(RigConfig config, Report report = {}, PttObserver observer = {});
    ~RigLink();
    RigLink(const RigLink&) = delete;
    RigLink& operator=(const RigLink&) = delete;

    // Any thread; returns at once. The last request wins.
    void request_ptt(bool on);
    // The latest published readout. One reading thread only (the user interface's).
    RigReadout readout() { return readout_.front(); }
    // Unkeys and closes the rig and ends the thread; waits for it (at most about one Hamlib
    // timeout). Idempotent; the destructor calls it.
    void stop();

  private:
    void run();
    void open_rig();
    void apply_ptt();
    void poll();
    void fail(const char* what, int code);
    void close_rig();
    void publish() {
        readout_.back() = state_;
        readout_.publish();
    }
    void say(const std::string& text);

    const RigConfig config_;
    Report report_;
    PttObserver observer_;
    // Bit 0: the wanted PTT state; bits 1..31: a request counter.
    std::atomic<std::uint32_t> request_{0};
    std::atomic<bool> stop_{false};
    std::counting_semaphore<> wake_{0};
    dsp::TripleBuffer<RigReadout> readout_;

    // Rig thread only.
    s_rig* rig_ = nullptr;
    RigReadout state_;
    std::uint32_t done_request_ = 0;  // the counter of the last request carried out
    bool failure_reported_ = false;
    bool refusal_reported_ = false;
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
