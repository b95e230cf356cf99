// Helpers of the loop library's tests: loopback UDP sockets, free ports, a temporary working
// directory with its own loop.txt. Only 127.0.0.1 is ever used.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarpo::loop_test {

namespace fs = std::filesystem;

// A UDP socket on 127.0.0.1 that stamps every datagram with the kernel's arrival time.
class UdpSocket {
  public:
    struct Datagram {
        std::vector<std::uint8_t> bytes;
        std::chrono::nanoseconds arrival{0};  // CLOCK_REALTIME, from the kernel
        std::string text() const { return {bytes.begin(), bytes.end()}; }
    };

    // port 0: an ephemeral port, for sending only.
    explicit UdpSocket(int port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int bytes = 1 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
        const sockaddr_in a = address(port);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    ~UdpSocket() { close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool bound() const { return bound_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool send_to(int port, const void* bytes, std::size_t length) const {
        const sockaddr_in a = address(port);
        return ::sendto(fd_, bytes, length, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) ==
               static_cast<ssize_t>(length);
    }
    bool send_to(int port, const std::string& text) const {
        return send_to(port, text.data(), text.size());
    }
    bool send_samples(int port, const std::vector<std::int16_t>& samples) const {
        std::vector<std::uint8_t> b;
        for (const std::int16_t s : samples) {
            const auto u = static_cast<std::uint16_t>(s);
            b.push_back(static_cast<std::uint8_t>(u & 0xff));
            b.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        return send_to(port, b.data(), b.size());
    }

    // The next datagram, or nothing within `timeout_ms`.
    std::optional<Datagram> receive(int timeout_ms) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
        Datagram d;
        d.bytes.resize(65536);
        const ssize_t n = ::recv(fd_, d.bytes.data(), d.bytes.size(), 0);
        if (n < 0) return std::nullopt;
        d.bytes.resize(static_cast<std::size_t>(n));
        return d;
    }

  private:
    static sockaddr_in address(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        return a;
    }

    int fd_ = -1;
    bool bound_ = false;
};

// The first of `count` consecutive loopback UDP ports that are free now, in 10000..29999
// (below the kernel's ephemeral range), starting from a place derived from the process id so
// that test processes running side by side pick different ones.
inline int free_ports(int count) {
    int base = 10000 + static_cast<int>(::getpid() % 1900) * 10;
    for (int attempt = 0; attempt < 200; ++attempt) {
        bool all = true;
        for (int i = 0; i < count && all; ++i) all = UdpSocket(base + i).bound();
        if (all) return base;
        base = base + 10 > 29990 ? 10000 : base + 10;
    }
    return base;
}

// A fresh directory made the working directory for the life of this object.
class TempWorkDir : public tarpo::test::TempDir {
  public:
    TempWorkDir() : TempDir("tarpo-loop"), old_(fs::current_path()) { fs::current_path(dir()); }
    ~TempWorkDir() {
        std::error_code ec;
        fs::current_path(old_, ec);
    }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    // loop.txt for a receive port and a transmit port on 127.0.0.1.
    void write_loop_txt(int rx_port, int tx_port) const {
        write("loop.txt", "rx_port " + std::to_string(rx_port) + "\ntx_host 127.0.0.1\ntx_port " +
                              std::to_string(tx_port) + "\n");
    }

  private:
    fs::path old_;
};

inline std::vector<std::int16_t> seeded_samples(std::size_t n, std::uint32_t seed) {
    std::vector<std::int16_t> s(n);
    std::uint32_t x = seed;
    for (auto& v : s) {
        x = x * 1664525u + 1013904223u;  // LCG: reproducible, every 16-bit value reachable
        v = static_cast<std::int16_t>(x >> 16);
    }
    return s;
}

}  // namespace tarpo::loop_test
