// A UDP socket on 127.0.0.1 at a free port, standing in for the reports' collector.
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
    UdpCollector() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot bind a collector");
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    }
    ~UdpCollector() { ::close(fd_); }
    UdpCollector(const UdpCollector&) = delete;
    UdpCollector& operator=(const UdpCollector&) = delete;

    std::string port() const { return std::to_string(port_); }
    // The next datagram, or nothing within `wait`.
    std::optional<std::vector<std::uint8_t>> receive(std::chrono::milliseconds wait) {
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
