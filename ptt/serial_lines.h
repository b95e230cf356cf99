// The RTS and DTR lines of one serial port, which key the transmitter. A narrow interface with
// two backends: the Linux tty below and a fake that records every change (serial_fake.h).
#pragma once

#include <string>

namespace tarpo::ptt {

enum class SerialLine { rts, dtr };

class SerialLines {
  public:
    virtual ~SerialLines() = default;
    // Opens the device at `path`, closing any port open before. On Linux the kernel raises
    // both lines when a port opens, so the caller clears them at once. False when the device
    // does not exist, is busy or is not a serial port.
    virtual bool open(const std::string& path) = 0;
    // Both lines low at once.
    virtual void clear() = 0;
    // Flow control off (the lines are ours, not the handshake's) and hang-up on close on, so
    // that the kernel drops both lines however the process ends. False when refused.
    virtual bool configure() = 0;
    // False when the driver refused the change (an adapter pulled out: EIO).
    virtual bool set_line(SerialLine line, bool on) = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;
};

// A tty device: open(2) with O_RDWR | O_NOCTTY | O_NONBLOCK, the lines through TIOCMBIS and
// TIOCMBIC, termios for the flow control and HUPCL.
class TtySerialLines final : public SerialLines {
  public:
    TtySerialLines() = default;
    ~TtySerialLines() override;
    TtySerialLines(const TtySerialLines&) = delete;
    TtySerialLines& operator=(const TtySerialLines&) = delete;

    bool open(const std::string& path) override;
    void clear() override;
    bool configure() override;
    bool set_line(SerialLine line, bool on) override;
    void close() override;
    bool is_open() const override { return fd_ >= 0; }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

// Drops RTS and DTR of the port that a TtySerialLines holds open, if any. Async-signal-safe
// (one atomic load and one ioctl): call it from SIGINT and SIGTERM handlers. The kernel drops
// the lines anyway when the process ends, through HUPCL, but a handler that does more work
// before exiting should not leave the transmitter on meanwhile.
void ptt_signal_unkey() noexcept;

// The descriptor that ptt_signal_unkey acts on, -1 when none.
int ptt_signal_fd() noexcept;

// For programs without handlers of their own: SIGINT and SIGTERM unkey, then end the process
// as the default action would.
void ptt_install_signal_unkey();

}  // namespace tarpo::ptt
