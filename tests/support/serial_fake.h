// A serial port stand-in for tests, modelled on what a Linux port does: opening raises both
// lines, closing drops them only when hang-up on close is set, the lines of a closed port stay
// as they were. Every call is logged as a short text ("open /dev/x", "rts 1", "clear", ...).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ptt/serial_lines.h"

namespace tarpo::ptt {

class FakeSerialLines final : public SerialLines {
  public:
    struct Port {
        bool rts = false;
        bool dtr = false;
        bool hupcl = false;
    };

    // A device that open() finds; any other path fails to open.
    void add_port(const std::string& path) { ports_[path]; }
    void fail_configure(bool fail) { configure_fails_ = fail; }

    bool open(const std::string& path) override;
    void clear() override;
    bool configure() override;
    bool set_line(SerialLine line, bool on) override;
    // While on, line changes fail and leave the lines as they are (an adapter pulled out).
    void fail_lines(bool fail) { lines_fail_ = fail; }
    void close() override;
    bool is_open() const override { return !current_.empty(); }

    const std::vector<std::string>& log() const { return log_; }
    void clear_log() { log_.clear(); }
    const std::string& current() const { return current_; }
    // Whether any line of any port, open or not, is high.
    bool any_raised() const;
    bool raised(const std::string& path) const;

  private:
    std::map<std::string, Port> ports_;
    std::string current_;
    bool configure_fails_ = false;
    bool lines_fail_ = false;
    std::vector<std::string> log_;
};

}  // namespace tarpo::ptt
