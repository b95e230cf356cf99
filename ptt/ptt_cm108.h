// PTT on a GPIO pin of a CM108-family USB sound interface (the usual radio interfaces key the
// rig from GPIO3), through the sound chip's hidraw device. The chip takes a 4-byte HID output
// report: a reserved byte, the GPIO data byte, the GPIO direction byte (1 = output), and a
// reserved byte; hidraw wants the report number (0) in front.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ptt/ptt_method.h"

namespace tarpo::ptt {

inline constexpr int cm108_default_gpio = 3;

// The 5 bytes written to the hidraw device to drive `gpio` (1..8) high (keyed) or low.
std::array<std::uint8_t, 5> cm108_report(int gpio, bool on);

// Whether the open descriptor is a hidraw character device (its sysfs subsystem is "hidraw").
bool is_hidraw_device(int fd);

class Cm108Ptt final : public PttMethod {
  public:
    using DeviceCheck = bool (*)(int fd);
    // device: "/dev/hidrawN"; gpio: 1..8 (others are taken as 3). check: what an opened
    // device must be before a byte is written to it (tests let a plain file stand in).
    Cm108Ptt(std::string device, int gpio = cm108_default_gpio,
             DeviceCheck check = is_hidraw_device);
    ~Cm108Ptt() override;
    Cm108Ptt(const Cm108Ptt&) = delete;
    Cm108Ptt& operator=(const Cm108Ptt&) = delete;

    // Opens the device and drives the pin low at once (as an output). Anything but a hidraw
    // character device is refused before a byte is written (an ordinary file, /dev/null).
    bool open() override;
    void key() override;
    void unkey() override;
    void close() override;
    bool settled() const override { return settled_; }
    void retry() override;

  private:
    void write_report(bool on);
    std::string device_;
    int gpio_;
    DeviceCheck check_;
    int fd_ = -1;
    bool keyed_ = false;   // the pin's wanted state
    bool settled_ = true;  // the chip took the last report
    bool fault_said_ = false;
};

// Drives the pin of the open CM108 PTT low, if any. Async-signal-safe (an atomic load and one
// write): for the handlers of SIGINT, SIGTERM and SIGHUP.
void cm108_signal_unkey() noexcept;

}  // namespace tarpo::ptt
