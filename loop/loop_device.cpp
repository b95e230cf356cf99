#include "loop/loop_device.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

namespace tarpo::loop {

namespace {

// A flood of datagrams must not keep a read draining for ever: a read takes at most this
// many before it looks at its block again (4096 × 1920 samples is far beyond the fifo).
constexpr int max_datagrams_per_drain = 4096;

sockaddr_in ipv4(std::uint32_t address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

int open_udp() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool is_ptt_text(const std::uint8_t* bytes, std::size_t length) {
    return length == 5 &&
           (std::memcmp(bytes, "PTT 0", 5) == 0 || std::memcmp(bytes, "PTT 1", 5) == 0);
}

std::int16_t to_sample(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    return static_cast<std::int16_t>(v);  // truncation toward zero, as the program converts
}

}  // namespace

BlockTiming BlockTiming::make(int rate, int block_size) {
    BlockTiming t;
    t.rate = rate >= 8000 && rate <= 192000 ? rate : default_rate;
    t.block_size = block_size <= 0 ? default_block_size : std::min(block_size, max_block_size);
    return t;
}

Clock::duration BlockTiming::block_time() const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(std::int64_t{block_size} * 1'000'000'000 / rate));
}

void SampleFifo::reset(std::size_t capacity) {
    ring_.assign(capacity, 0);
    clear();
}

void SampleFifo::push_le16(const std::uint8_t* bytes, std::size_t length) {
    const std::size_t cap = ring_.size();
    if (cap == 0) return;
    std::size_t n = length / 2;
    if (n > cap) {  // only the newest samples of a datagram larger than the whole fifo
        bytes += 2 * (n - cap);
        n = cap;
    }
    if (count_ + n > cap) {  // the reader fell behind: the oldest samples go
        const std::size_t drop = count_ + n - cap;
        head_ = (head_ + drop) % cap;
        count_ -= drop;
    }
    std::size_t tail = (head_ + count_) % cap;
    for (std::size_t i = 0; i < n; ++i) {
        const auto u = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        ring_[tail] = static_cast<std::int16_t>(u);
        if (++tail == cap) tail = 0;
    }
    count_ += n;
}

void SampleFifo::pop(double* out, std::size_t n) {
    const std::size_t cap = ring_.size();
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = ring_[head_];
        if (++head_ == cap) head_ = 0;
    }
    count_ -= n;
}

// ---------------------------------------------------------------------------------------

LoopReceiver::~LoopReceiver() {
    if (fd_ >= 0) ::close(fd_);
}

void LoopReceiver::start(int rate, int block_size) {
    timing_ = BlockTiming::make(rate, block_size);
    const LoopConfig config = loop_config_load(config_path_.c_str());
    if (fd_ < 0 || bound_port_ != config.rx_port) {
        if (fd_ >= 0) ::close(fd_);
        bound_port_ = 0;
        fd_ = open_udp();
        if (fd_ >= 0) {
            // Room for a sender's burst while the reader is busy; the kernel caps it.
            const int bytes = 1 << 20;
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
            const sockaddr_in here = ipv4(loopback_address, config.rx_port);
            if (::bind(fd_, reinterpret_cast<const sockaddr*>(&here), sizeof here) == 0) {
                bound_port_ = config.rx_port;
            } else {  // port in use: deliver nothing, say so, try again at the next start
                std::fprintf(stderr, "SDR loop: receive port %d: %s; nothing is received\n",
                             config.rx_port, std::strerror(errno));
                ::close(fd_);
                fd_ = -1;
            }
        }
    }
    const std::size_t block = static_cast<std::size_t>(timing_.block_size);
    fifo_.reset(std::max<std::size_t>(rx_fifo_blocks * block, 32768));
    discard_waiting();
    started_ = true;
}

void LoopReceiver::init_rx_recording(int rate, int block_size) {
    std::lock_guard lock(mutex_);
    start(rate, block_size);
}

void LoopReceiver::discard_waiting() {
    if (fd_ < 0) return;
    for (int i = 0; i < max_datagrams_per_drain; ++i) {
        if (::recv(fd_, datagram_.data(), datagram_.size(), MSG_DONTWAIT) < 0 && errno != EINTR)
            break;
    }
}

void LoopReceiver::drain() {
    if (fd_ < 0) return;
    for (int i = 0; i < max_datagrams_per_drain; ++i) {
        const ssize_t n = ::recv(fd_, datagram_.data(), datagram_.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // EAGAIN: nothing more waiting
        }
        const auto length = static_cast<std::size_t>(n);
        if (is_ptt_text(datagram_.data(), length)) continue;
        fifo_.push_le16(datagram_.data(), length);
    }
}

int LoopReceiver::read_rx(double* samples) {
    std::lock_guard lock(mutex_);
    if (!started_) start(default_rate, default_block_size);
    const auto deadline = Clock::now() + timing_.block_time() * rx_wait_halves / 2;
    const auto block = static_cast<std::size_t>(timing_.block_size);
    drain();
    while (fifo_.size() < block) {
        if (fd_ < 0) {  // no port: behave like a sound card that delivers nothing
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1'000'000'000),
                            static_cast<long>(ns % 1'000'000'000)};
        pollfd p{fd_, POLLIN, 0};
        ::ppoll(&p, 1, &wait, nullptr);
        drain();
    }
    fifo_.pop(samples, block);
    return 1;
}

// ---------------------------------------------------------------------------------------

LoopTransmitter::~LoopTransmitter() {
    if (fd_ >= 0) ::close(fd_);
}

void LoopTransmitter::load_config() {
    config_ = loop_config_load(config_path_.c_str());
    if (fd_ < 0) fd_ = open_udp();
    config_loaded_ = true;
}

void LoopTransmitter::init_tx_playback(int rate, int block_size) {
    std::lock_guard lock(mutex_);
    load_config();
    timing_ = BlockTiming::make(rate, block_size);
    bytes_.assign(2 * static_cast<std::size_t>(timing_.block_size), 0);
    queue_end_.reset();
    started_ = true;
}

void LoopTransmitter::send(const std::uint8_t* bytes, std::size_t length, int port) {
    if (fd_ < 0) return;
    const sockaddr_in to = ipv4(config_.tx_address, port);
    // Non-blocking and unconnected: a full buffer or nobody listening loses the datagram and
    // reports nothing, like audio sent to a cable with nothing at its end.
    ::sendto(fd_, bytes, length, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int LoopTransmitter::write_tx(const double* samples) {
    std::lock_guard lock(mutex_);
    if (!started_) {
        if (!config_loaded_) load_config();
        timing_ = BlockTiming{};
        bytes_.assign(2 * static_cast<std::size_t>(timing_.block_size), 0);
        started_ = true;
    }
    const auto block = static_cast<std::size_t>(timing_.block_size);
    for (std::size_t i = 0; i < block; ++i) {
        const auto u = static_cast<std::uint16_t>(to_sample(samples[i]));
        bytes_[2 * i] = static_cast<std::uint8_t>(u & 0xff);
        bytes_[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    for (std::size_t at = 0; at < block; at += max_datagram_samples) {
        const std::size_t n = std::min<std::size_t>(max_datagram_samples, block - at);
        send(bytes_.data() + 2 * at, 2 * n, config_.tx_port);
    }

    // A deadline clock rather than a sleep per block, so that the time spent by the caller
    // between writes does not add up; after a pause the queue has run dry and playing
    // restarts from now instead of letting the writer catch up at full speed.
    const auto now = Clock::now();
    const auto period = timing_.block_time();
    if (!queue_end_ || *queue_end_ < now) queue_end_ = now;
    *queue_end_ += period;
    std::this_thread::sleep_until(*queue_end_ - tx_queue_blocks * period);
    return fd_ >= 0 ? 1 : 0;
}

void LoopTransmitter::set_ptt(int on) {
    std::lock_guard lock(mutex_);
    if (!config_loaded_) load_config();
    if (!on && queue_end_) {
        if (*queue_end_ > Clock::now()) std::this_thread::sleep_until(*queue_end_);
        queue_end_.reset();
    }
    const char* text = on ? "PTT 1" : "PTT 0";
    send(reinterpret_cast<const std::uint8_t*>(text), 5, config_.ptt_port());
}

}  // namespace tarpo::loop
