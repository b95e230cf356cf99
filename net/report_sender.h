// The thread that puts datagrams on the wire: reception reports to the collector, or messages to
// a logger. The caller hands a datagram over and goes on; the name lookup and the sends happen
// on the sender's own thread. What cannot go now waits in a bounded queue (when full, the oldest
// goes) and is tried again later; a failing lookup or send is said once, and said again only
// after sending has worked in between.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarpo::net {

struct SenderSettings {
    std::string host = "report.pskreporter.info";
    std::string port = "4739";
    std::string label = "reception reports";      // begins every message said
    std::size_t capacity = 64;                    // datagrams waiting at most
    std::chrono::milliseconds retry{30'000};      // after a failed lookup or send
    std::chrono::milliseconds stop_limit{2'000};  // stop() returns within about this
};

class ReportSender {
  public:
    // Told one line about a problem or a recovery; called on the sender's thread.
    using Sink = std::function<void(const std::string&)>;
    static void say_on_stderr(const std::string& line);

    // Starts the thread. Nothing is looked up before the first datagram.
    explicit ReportSender(SenderSettings settings, Sink sink = say_on_stderr);
    ~ReportSender();
    ReportSender(const ReportSender&) = delete;
    ReportSender& operator=(const ReportSender&) = delete;

    // Queues a datagram (at most 65507 bytes; a larger one is dropped). Never waits for the
    // network.
    void send(std::vector<std::uint8_t> datagram);

    // Sends what waits (no retries: after a failure the rest is dropped), then ends and joins
    // the thread. Returns within about
    // stop_limit: false when the thread was still busy then (a lookup that hangs, a sink that
    // does not return); it is then left to end on its own and says nothing more. Later send()s
    // are dropped; a second stop() returns what the first did.
    bool stop();

    struct Counts {
        std::size_t sent = 0;     // handed to the network
        std::size_t dropped = 0;  // pushed out of a full queue, or left at stop
        std::size_t waiting = 0;  // neither sent nor dropped yet
    };
    Counts counts() const;

  private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the thread, which may outlive us after stop()
    std::thread thread_;
    bool stopped_cleanly_ = false;
};

}  // namespace tarpo::net
