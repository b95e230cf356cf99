#include "tests/support/serial_fake.h"

namespace tarpo::ptt {

bool FakeSerialLines::open(const std::string& path) {
    close();
    const auto it = ports_.find(path);
    if (it == ports_.end()) {
        log_.push_back("open " + path + " failed");
        return false;
    }
    it->second.rts = it->second.dtr = true;  // what the kernel does on open
    current_ = path;
    log_.push_back("open " + path);
    return true;
}

void FakeSerialLines::clear() {
    log_.push_back("clear");
    if (current_.empty()) return;
    Port& p = ports_[current_];
    p.rts = p.dtr = false;
}

bool FakeSerialLines::configure() {
    if (current_.empty() || configure_fails_) {
        log_.push_back("configure failed");
        return false;
    }
    ports_[current_].hupcl = true;
    log_.push_back("configure");
    return true;
}

bool FakeSerialLines::set_line(SerialLine line, bool on) {
    log_.push_back(std::string(line == SerialLine::rts ? "rts " : "dtr ") + (on ? "1" : "0"));
    if (current_.empty() || lines_fail_) return false;
    Port& p = ports_[current_];
    (line == SerialLine::rts ? p.rts : p.dtr) = on;
    return true;
}

void FakeSerialLines::close() {
    if (current_.empty()) return;
    log_.push_back("close " + current_);
    Port& p = ports_[current_];
    if (p.hupcl) p.rts = p.dtr = false;
    current_.clear();
}

bool FakeSerialLines::any_raised() const {
    for (const auto& [path, port] : ports_)
        if (port.rts || port.dtr) return true;
    return false;
}

bool FakeSerialLines::raised(const std::string& path) const {
    const auto it = ports_.find(path);
    return it != ports_.end() && (it->second.rts || it->second.dtr);
}

}  // namespace tarpo::ptt
