// A UDP socket on 127.0.0.1 at a free port, standing in for the reports' collector or a logger.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarpo::test {

class UdpCollector {
  public:
    // port 0: a free one.
    explicit UdpCollector(unsigned short port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot bind a collector");
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    }
    ~UdpCollector() { close(); }
    // The collector goes away: what is sent to its port from now on is lost.
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    UdpCollector(const UdpCollector&) = delete;
    UdpCollector& operator=(const UdpCollector&) = delete;

    std::string port() const { return std::to_string(port_); }
    // The next datagram, or nothing within `wait`.
    std::optional<std::vector<std::uint8_t>> receive(
        std::chrono::milliseconds wait = std::chrono::milliseconds(5000)) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) != 1) return std::nullopt;
        std::vector<std::uint8_t> d(65536);
        const ssize_t n = ::recv(fd_, d.data(), d.size(), 0);
        if (n < 0) return std::nullopt;
        d.resize(static_cast<std::size_t>(n));
        return d;
    }

  private:
    int fd_ = -1;
    unsigned short port_ = 0;
};

}  // namespace tarpo::test
