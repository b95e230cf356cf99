#include "ptt/ptt_cm108.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <utility>

#include "ptt/device_class.h"

namespace tarpo::ptt {

namespace {

// The descriptor and the unkey report for the signal handler; one CM108 PTT at a time.
std::atomic<int> signal_fd{-1};
std::array<std::uint8_t, 5> signal_report{};

}  // namespace

std::array<std::uint8_t, 5> cm108_report(int gpio, bool on) {
    if (gpio < 1 || gpio > 8) gpio = cm108_default_gpio;
    const auto bit = static_cast<std::uint8_t>(1u << (gpio - 1));
    return {0, 0, static_cast<std::uint8_t>(on ? bit : 0), bit, 0};
}

Cm108Ptt::Cm108Ptt(std::string device, int gpio, DeviceCheck check)
    : device_(std::move(device)), gpio_(gpio), check_(check) {}

Cm108Ptt::~Cm108Ptt() {
    close();
}

bool is_hidraw_device(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
           char_device_class(st.st_rdev) == "hidraw";
}

bool Cm108Ptt::open() {
    close();
    // O_NONBLOCK: a FIFO of that name does not hold up the open; it is refused below.
    const int fd = ::open(device_.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (!check_(fd)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    write_report(false);
    signal_report = cm108_report(gpio_, false);
    signal_fd.store(fd_);
    return true;
}

void Cm108Ptt::key() {
    write_report(true);
}

void Cm108Ptt::unkey() {
    write_report(false);
}

void Cm108Ptt::retry() {
    if (settled_ || fd_ < 0) return;
    write_report(keyed_);
    if (!settled_ && !fault_said_)
        std::fprintf(stderr, "PTT: %s does not take the %s report; trying again.\n",
                     device_.c_str(), keyed_ ? "key" : "unkey");
    fault_said_ = !settled_;
}

void Cm108Ptt::close() {
    if (fd_ < 0) return;
    write_report(false);
    int expected = fd_;
    signal_fd.compare_exchange_strong(expected, -1);
    ::close(fd_);
    fd_ = -1;
}

void Cm108Ptt::write_report(bool on) {
    keyed_ = on;
    if (fd_ < 0) return;
    const auto report = cm108_report(gpio_, on);
    // A short or failed write (the interface unplugged, its queue full) is sent again by
    // retry() until the chip takes it.
    const ssize_t n = ::write(fd_, report.data(), report.size());
    settled_ = n == static_cast<ssize_t>(report.size());
}

void cm108_signal_unkey() noexcept {
    const int fd = signal_fd.load();
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t n = ::write(fd, signal_report.data(), signal_report.size());
}

}  // namespace tarpo::ptt
