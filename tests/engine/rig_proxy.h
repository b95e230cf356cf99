// A TCP proxy between the program and a rigctld that injects the faults of a real link: an
// unkey command that never arrives (so it is never answered), connections dropped on both
// sides, and a rig that cannot be reached at all. Everything runs on one thread of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarpo::test {

class RigProxy {
  public:
    explicit RigProxy(int target_port) : target_(target_port) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 8);
        socklen_t n = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~RigProxy() {
        stop_ = true;
        thread_.join();
        for (const Pair& p : pairs_) close_pair(p);
        ::close(listen_);
    }
    RigProxy(const RigProxy&) = delete;
    RigProxy& operator=(const RigProxy&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The next `n` unkey commands are swallowed: the rig never sees them, the client never
    // gets an answer.
    void swallow_unkeys(int n) { swallow_ = n; }
    // Closes every connection at once, both sides.
    void drop_connections() { drop_ = true; }
    // While on, every connection is closed as soon as it is made: the rig is out of reach.
    void refuse(bool on) {
        refuse_ = on;
        if (on) drop_ = true;
    }
    int unkeys_swallowed() const { return swallowed_; }
    // Commands that set or read PTT ("T ...", "t ...") passed on so far, and all commands.
    int ptt_commands() const { return ptt_commands_; }
    int commands() const { return commands_; }

  private:
    struct Pair {
        int client;
        int server;
    };
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
    static void close_pair(const Pair& p) {
        ::close(p.client);
        ::close(p.server);
    }
    void run() {
        while (!stop_) {
            if (drop_.exchange(false)) {
                for (const Pair& p : pairs_) close_pair(p);
                pairs_.clear();
            }
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            for (const Pair& p : pairs_) {
                fds.push_back({p.client, POLLIN, 0});
                fds.push_back({p.server, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
            for (std::size_t i = fds.size() / 2; i-- > 0;) {
                const bool up = fds[1 + 2 * i].revents != 0;
                const bool down = fds[2 + 2 * i].revents != 0;
                if ((up && !pass(pairs_[i].client, pairs_[i].server, true)) ||
                    (down && !pass(pairs_[i].server, pairs_[i].client, false))) {
                    close_pair(pairs_[i]);
                    pairs_.erase(pairs_.begin() + static_cast<long>(i));
                }
            }
            if (fds[0].revents & POLLIN) accept_one();
        }
    }
    void accept_one() {
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(target_);
        if (refuse_ || ::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            close_pair({client, server});
            return;
        }
        pairs_.push_back({client, server});
    }
    // Copies what one side sent to the other, line by line from the client so that an
    // unkey ("T 0", "T VFOA 0") can be left out. False when either side is gone.
    bool pass(int from, int to, bool from_client) {
        char buffer[4096];
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n <= 0) return false;
        std::string data(buffer, static_cast<std::size_t>(n));
        if (from_client) data = filter(data);
        return data.empty() || ::send(to, data.data(), data.size(), MSG_NOSIGNAL) > 0;
    }
    std::string filter(const std::string& data) {
        std::string out;
        std::size_t start = 0;
        while (start < data.size()) {
            std::size_t end = data.find('\n', start);
            end = end == std::string::npos ? data.size() : end + 1;
            const std::string line = data.substr(start, end - start);
            start = end;
            ++commands_;
            if (!line.empty() && (line[0] == 'T' || line[0] == 't') &&
                (line.size() == 1 || line[1] == ' ' || line[1] == '\n' || line[1] == '\r'))
                ++ptt_commands_;
            const bool unkey = line.size() >= 3 && line[0] == 'T' && line[1] == ' ' &&
                               line.find_last_not_of("\r\n") != std::string::npos &&
                               line[line.find_last_not_of("\r\n")] == '0';
            if (unkey && swallow_ > 0) {
                --swallow_;
                ++swallowed_;
                continue;
            }
            out += line;
        }
        return out;
    }

    int target_;
    int listen_ = -1;
    int port_ = 0;
    std::vector<Pair> pairs_;  // proxy thread only
    std::atomic<bool> stop_{false};
    std::atomic<bool> drop_{false};
    std::atomic<bool> refuse_{false};
    std::atomic<int> swallow_{0};
    std::atomic<int> swallowed_{0};
    std::atomic<int> ptt_commands_{0};
    std::atomic<int> commands_{0};
    std::thread thread_;
};

}  // namespace tarpo::test
