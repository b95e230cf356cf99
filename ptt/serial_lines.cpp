#include "ptt/serial_lines.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace tarpo::ptt {

namespace {

// The port open at the moment, for the signal handler. A lock-free atomic int is safe to
// read in a handler.
std::atomic<int> signal_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int both_lines = TIOCM_RTS | TIOCM_DTR;

int line_bit(SerialLine line) {
    return line == SerialLine::rts ? TIOCM_RTS : TIOCM_DTR;
}

// Installed with SA_RESETHAND: the raise ends the process with the default action.
void signal_unkey_and_end(int sig) {
    ptt_signal_unkey();
    std::raise(sig);
}

}  // namespace

TtySerialLines::~TtySerialLines() {
    close();
}

bool TtySerialLines::open(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // The kernel raised DTR and RTS in the open: drop them before anything else.
    ::ioctl(fd, TIOCMBIC, &both_lines);
    if (!::isatty(fd)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    signal_fd.store(fd);
    return true;
}

void TtySerialLines::clear() {
    if (fd_ >= 0) ::ioctl(fd_, TIOCMBIC, &both_lines);
}

bool TtySerialLines::configure() {
    if (fd_ < 0) return false;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    // Only these bits change; speed, byte format and parity stay as found.
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= HUPCL;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool TtySerialLines::set_line(SerialLine line, bool on) {
    if (fd_ < 0) return false;
    const int bit = line_bit(line);
    return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
}

void TtySerialLines::close() {
    if (fd_ < 0) return;
    int expected = fd_;
    signal_fd.compare_exchange_strong(expected, -1);
    // Explicitly, not only through HUPCL: configure() may have been refused.
    ::ioctl(fd_, TIOCMBIC, &both_lines);
    ::close(fd_);
    fd_ = -1;
}

void ptt_signal_unkey() noexcept {
    const int fd = signal_fd.load();
    if (fd >= 0) ::ioctl(fd, TIOCMBIC, &both_lines);
}

int ptt_signal_fd() noexcept {
    return signal_fd.load();
}

void ptt_install_signal_unkey() {
    struct sigaction action {};
    action.sa_handler = signal_unkey_and_end;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tarpo::ptt
