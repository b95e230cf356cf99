#include "net/report_sender.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>

namespace tarpo::net {

namespace {

constexpr std::size_t largest_datagram = 65507;

}  // namespace

// Shared by the owner and the thread, so a thread left behind by stop() still has it.
struct ReportSender::State {
    SenderSettings settings;
    Sink sink;

    mutable std::mutex mutex;
    std::condition_variable wake;  // a datagram came, or stop
    std::condition_variable ended_cv;
    std::deque<std::vector<std::uint8_t>> queue;
    bool stopping = false;
    bool ended = false;
    bool silent = false;   // the owner has gone: say nothing more
    bool in_hand = false;  // the thread holds a datagram out of the queue
    Counts counts;

    // The thread's own, untouched by the owner.
    int fd = -1;
    bool troubled = false;  // a problem was said and nothing has gone since
    int sent_on_socket = 0;

    void run();
    bool deliver(const std::vector<std::uint8_t>& datagram, std::string& problem);
    bool open(std::string& problem);
    void close_socket();
    void say(const std::string& line);
};

void ReportSender::say_on_stderr(const std::string& line) {
    std::cerr << line << '\n';
}

ReportSender::ReportSender(SenderSettings settings, Sink sink) : state_(std::make_shared<State>()) {
    state_->settings = std::move(settings);
    state_->sink = sink ? std::move(sink) : Sink(say_on_stderr);
    thread_ = std::thread([state = state_] { state->run(); });
}

ReportSender::~ReportSender() {
    stop();
}

void ReportSender::send(std::vector<std::uint8_t> datagram) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping || datagram.size() > largest_datagram) {
            ++state_->counts.dropped;
            return;
        }
        state_->queue.push_back(std::move(datagram));
        if (state_->queue.size() > state_->settings.capacity) {
            state_->queue.pop_front();
            ++state_->counts.dropped;
        }
    }
    state_->wake.notify_one();
}

bool ReportSender::stop() {
    if (!thread_.joinable()) return stopped_cleanly_;
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_one();
    stopped_cleanly_ =
        state_->ended_cv.wait_for(lock, state_->settings.stop_limit, [&] { return state_->ended; });
    if (!stopped_cleanly_) state_->silent = true;
    lock.unlock();
    if (stopped_cleanly_)
        thread_.join();  // it has left its loop: returns at once
    else
        thread_.detach();
    return stopped_cleanly_;
}

ReportSender::Counts ReportSender::counts() const {
    std::lock_guard lock(state_->mutex);
    Counts c = state_->counts;
    c.waiting = state_->queue.size() + (state_->in_hand ? 1 : 0);
    return c;
}

void ReportSender::State::run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point next_try = Clock::now();
    std::unique_lock lock(mutex);
    for (;;) {
        // Idle until a datagram comes (or stop); after a failure, also until the retry is due.
        wake.wait(lock, [&] { return stopping || !queue.empty(); });
        if (queue.empty()) break;
        if (!stopping && Clock::now() < next_try) {
            wake.wait_until(lock, next_try, [&] { return stopping; });
            continue;
        }
        std::vector<std::uint8_t> datagram = std::move(queue.front());
        queue.pop_front();
        in_hand = true;
        lock.unlock();
        std::string problem;
        const bool sent = deliver(datagram, problem);
        if (!problem.empty()) say(problem);
        lock.lock();
        in_hand = false;
        if (sent) {
            ++counts.sent;
            continue;
        }
        if (stopping) {  // no retries at stop: after a failure the rest is left
            counts.dropped += 1 + queue.size();
            queue.clear();
            break;
        }
        if (queue.size() < settings.capacity)
            queue.push_front(std::move(datagram));
        else
            ++counts.dropped;
        next_try = Clock::now() + settings.retry;
    }
    lock.unlock();
    close_socket();
    lock.lock();
    ended = true;
    ended_cv.notify_all();
}

// Sends one datagram, opening the socket first when there is none. The problem or the recovery
// to say goes to `problem`.
bool ReportSender::State::deliver(const std::vector<std::uint8_t>& datagram, std::string& problem) {
    const std::string where = settings.host + ":" + settings.port;
    if (fd < 0 && !open(problem)) return false;
    const ssize_t n = ::send(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(datagram.size())) {
        // A connected UDP socket learns of a refusal from the answer to an earlier datagram, so
        // the first send on a new socket always seems to work: only a later one shows the way is
        // open again.
        if (++sent_on_socket >= 2 && troubled) {
            problem = settings.label + ": sending to " + where + " again";
            troubled = false;
        }
        return true;
    }
    const std::string why = n < 0 ? std::strerror(errno) : "sent only in part";
    close_socket();  // looked up again next time: the address may have changed
    if (!troubled)
        problem =
            settings.label + ": cannot send to " + where + " (" + why + "); trying again later";
    troubled = true;
    return false;
}

bool ReportSender::State::open(std::string& problem) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(settings.host.c_str(), settings.port.c_str(), &hints, &found);
    std::string why = error != 0 ? ::gai_strerror(error) : "";
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) why = std::strerror(errno);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            why = std::strerror(errno);
            close_socket();
        }
    }
    if (found != nullptr) ::freeaddrinfo(found);
    if (fd >= 0) return true;
    if (!troubled)
        problem = settings.label + ": cannot reach " + settings.host + ":" + settings.port + " (" +
                  (why.empty() ? "no address" : why) + "); trying again later";
    troubled = true;
    return false;
}

void ReportSender::State::close_socket() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    sent_on_socket = 0;
}

void ReportSender::State::say(const std::string& line) {
    {
        std::lock_guard lock(mutex);
        if (silent) return;
    }
    sink(line);
}

}  // namespace tarpo::net
