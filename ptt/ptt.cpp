#include "ptt/ptt.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "external/settings_file.h"

namespace tarpo::ptt {

PttPort::PttPort(sound::LoopLibrary& loop, const sound::LoopOutputQuery& output, SerialLines& lines,
                 SerialPortDirs dirs, std::string txport_path)
    : loop_(loop),
      output_(output),
      lines_(lines),
      dirs_(std::move(dirs)),
      txport_path_(std::move(txport_path)) {}

char read_port_choice(std::FILE* file) {
    char choice = '\0';
    // The word after the choice is read and ignored; 99 characters at most, so that a long
    // word cannot overrun the scratch buffer.
    char scratch[100];
    if (std::fscanf(file, "%c %99s", &choice, scratch) < 1) choice = '\0';
    return choice;
}

char PttPort::load_choice() const {
    const int fd = open_settings_file(txport_path_.c_str());
    if (fd < 0) return '\0';
    std::FILE* file = ::fdopen(fd, "r");
    if (!file) {
        ::close(fd);
        return '\0';
    }
    const char choice = read_port_choice(file);
    std::fclose(file);
    return choice;
}

void PttPort::save_choice(char choice) const {
    // Something that is not a regular file (a FIFO would block the open) is left alone.
    struct stat st {};
    if (::stat(txport_path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return;
    std::FILE* file = std::fopen(txport_path_.c_str(), "w");
    if (!file) return;
    std::fprintf(file, "%c comport\n", choice);
    std::fclose(file);
}

void PttPort::open_port(char choice) {
    std::lock_guard lock(mutex_);
    if (lines_.is_open()) {
        lines_.clear();
        lines_.close();
    }
    lines_settled_ = true;
    const std::string device = com_port_device(choice, dirs_);
    if (device.empty() || !lines_.open(device)) return;
    lines_.clear();
    lines_.configure();
    // Drivers differ in what a settings change does to the lines (leaving speed B0 raises
    // them): clear once more.
    lines_.clear();
}

void PttPort::set(bool on) {
    if (set_loop_ptt(on)) return;
    on ? key() : unkey();
}

void PttPort::key() {
    std::lock_guard lock(mutex_);
    if (method_) return method_->key();
    keyed_ = true;
    lines_settled_ = apply_lines();
}

void PttPort::unkey() {
    std::lock_guard lock(mutex_);
    if (method_) method_->unkey();
    keyed_ = false;
    lines_settled_ = apply_lines();
}

bool PttPort::apply_lines() {
    if (!lines_.is_open()) return true;
    // Unkeying drops both lines; keying raises the chosen ones (RTS first).
    bool ok = true;
    if (!keyed_ || key_rts_) ok &= lines_.set_line(SerialLine::rts, keyed_);
    if (!keyed_ || key_dtr_) ok &= lines_.set_line(SerialLine::dtr, keyed_);
    return ok;
}

bool PttPort::settled() const {
    std::lock_guard lock(mutex_);
    return method_ ? method_->settled() : lines_settled_;
}

void PttPort::retry() {
    std::lock_guard lock(mutex_);
    if (method_) return method_->retry();
    if (lines_settled_) return;
    lines_settled_ = apply_lines();
    if (!lines_settled_ && !lines_fault_said_)
        std::fprintf(stderr, "PTT: the serial port refuses to %s; trying again.\n",
                     keyed_ ? "raise its lines" : "drop its lines");
    lines_fault_said_ = !lines_settled_;
}

bool PttPort::set_loop_ptt(bool on) {
    if (!loop_.present() || !output_.output_is_loop()) return false;
    loop_.set_ptt(on ? 1 : 0);
    return true;
}

void PttPort::set_keyed_lines(bool rts, bool dtr) {
    std::lock_guard lock(mutex_);
    key_rts_ = rts;
    key_dtr_ = dtr;
}

std::unique_ptr<PttMethod> PttPort::use_method(std::unique_ptr<PttMethod> method) {
    std::lock_guard lock(mutex_);
    std::swap(method, method_);
    return method;
}

bool PttPort::port_open() const {
    std::lock_guard lock(mutex_);
    return lines_.is_open();
}

}  // namespace tarpo::ptt
