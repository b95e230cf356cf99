// How the transmitter is keyed and which rig the program talks to. The user interface keeps
// these in radio.txt (ui/radio_file.h); the engine applies them.
#pragma once

#include <string>

namespace tarpo::ptt {

enum class PttKind {
    vox,             // no keying: the rig's VOX, or by hand
    serial_rts_dtr,  // RTS and DTR of the ComPort port (the default)
    serial_rts,      // RTS only
    serial_dtr,      // DTR only
    hamlib_cat,      // CAT through Hamlib: model, port, baud rate
    hamlib_net,      // Hamlib's network rig: a rigctld on host:port
    cm108,           // GPIO of a CM108 USB sound interface, through its hidraw device
};

// The rig whose dial and mode are read while PTT goes another way (the serial lines, a CM108,
// none): the CAT rig (rig_model, rig_port, rig_baud) or the network rig (net_host, net_port).
// Such a link never keys the rig. With PTT through Hamlib, the PTT's own rig is read.
enum class DialRig { none, cat, net };

struct RadioSettings {
    PttKind method = PttKind::serial_rts_dtr;
    int rig_model = 1;     // Hamlib's model number, for hamlib_cat
    std::string rig_port;  // the rig's serial device, for hamlib_cat
    int rig_baud = 0;      // bit/s; 0: the model's default
    std::string net_host = "localhost";
    int net_port = 4532;
    std::string cm108_device = "/dev/hidraw0";
    int cm108_gpio = 3;  // 1..8
    DialRig dial_rig = DialRig::none;
    bool operator==(const RadioSettings&) const = default;
};

inline bool keys_through_hamlib(PttKind kind) {
    return kind == PttKind::hamlib_cat || kind == PttKind::hamlib_net;
}
// Which rig link the settings open: the PTT's own with PTT through Hamlib, else dial_rig.
inline DialRig rig_link_of(const RadioSettings& s) {
    if (s.method == PttKind::hamlib_cat) return DialRig::cat;
    if (s.method == PttKind::hamlib_net) return DialRig::net;
    return s.dial_rig;
}

}  // namespace tarpo::ptt
