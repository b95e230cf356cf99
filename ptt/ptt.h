// ptt/: keying the transmitter (serial lines and ports, or the SDR loop device).
// Third floor: it includes ptt/ and the floors below it (sound/ for the loop device's PTT).
// Keying the transmitter: through the SDR loop device's own PTT when that device is the
// current output, otherwise through RTS and DTR of one serial port, "Com 1" .. "Com 8", chosen
// by the user and remembered in txport.bin in the working directory.
//
// The port operations run on the user-interface thread (start and the port dialog), the
// keying on the worker at each phase switch; a lock keeps a port change and a keying from
// crossing. Failures are silent, and no operation ever leaves a line raised except key.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "ptt/ptt_method.h"
#include "ptt/serial_lines.h"
#include "ptt/serial_ports.h"
#include "sound/loop_library.h"

namespace tarpo::ptt {

class PttPort {
  public:
    // `loop` and `output` say whether the loop device takes the PTT; `lines` is the serial
    // backend. All three must outlive this object. `txport_path` is the port choice file.
    PttPort(sound::LoopLibrary& loop, const sound::LoopOutputQuery& output, SerialLines& lines,
            SerialPortDirs dirs = {}, std::string txport_path = "txport.bin");

    // The choice stored in txport.bin: its very first character ('0' none, '1' .. '8' a
    // port; anything else opens no port), NUL when the file is missing, empty
    // or not a regular file.
    char load_choice() const;
    // Rewrites txport.bin as "<choice> comport\n"; silent when it cannot be written.
    void save_choice(char choice) const;
    // Closes the open port (dropping its lines) and opens the port of `choice` with both
    // lines low; a choice outside '1' .. '8', a missing port or a failed open leaves none.
    void open_port(char choice);

    // Keys (on) or unkeys the transmitter by whatever keys it now: the loop device's SetPTT
    // when the loop library is present and the selected output is the loop device (the
    // serial port, open as it is, is not touched then); otherwise key or unkey.
    void set(bool on);
    // RTS then DTR high, on the open port (or the method in place of the lines); nothing
    // without one.
    void key();
    // RTS then DTR low.
    void unkey();

    bool port_open() const;
    // Whether the last keying took effect (false after a failed line change or write, until
    // retry() got it through); retry() sends the wanted state again. User-interface thread,
    // once per display tick.
    bool settled() const;
    void retry();
    const std::string& txport_path() const { return txport_path_; }

    // Which lines key() raises (both by default; RTS only or DTR only for interfaces that
    // use the other line for something else). Unkeying always drops both.
    void set_keyed_lines(bool rts, bool dtr);
    // Another method keys in place of the serial port's lines (null: the lines again). The
    // port stays open as chosen, its lines low. Returns the method replaced, which the
    // caller closes outside this object's lock (closing a rig link may take a moment).
    std::unique_ptr<PttMethod> use_method(std::unique_ptr<PttMethod> method);

  private:
    // When the loop library is present and the selected output is the loop device: SetPTT(1)
    // or SetPTT(0) and true. Otherwise false, touching nothing.
    bool set_loop_ptt(bool on);

    sound::LoopLibrary& loop_;
    const sound::LoopOutputQuery& output_;
    SerialLines& lines_;
    SerialPortDirs dirs_;
    std::string txport_path_;
    mutable std::mutex mutex_;
    std::unique_ptr<PttMethod> method_;
    bool key_rts_ = true;
    bool key_dtr_ = true;
    bool keyed_ = false;         // the lines' wanted state
    bool lines_settled_ = true;  // the last change of the lines took effect
    bool lines_fault_said_ = false;
    bool apply_lines();
};

// The choice as txport.bin holds it: its very first character, '\0' when the file is empty.
char read_port_choice(std::FILE* file);

}  // namespace tarpo::ptt
