// How the transmitter is keyed and which rig the program talks to. The user interface keeps
// these in radio.txt (ui/radio_settings.h); the engine applies them.
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

struct RadioSettings {
    PttKind method = PttKind::serial_rts_dtr;
    int rig_model = 1;     // Hamlib's model number, for hamlib_cat
    std::string rig_port;  // the rig's serial device, for hamlib_cat
    int rig_baud = 0;      // bit/s; 0: the model's default
    std::string net_host = "localhost";
    int net_port = 4532;
    std::string cm108_device = "/dev/hidraw0";
    int cm108_gpio = 3;  // 1..8
    bool operator==(const RadioSettings&) const = default;
};

}  // namespace tarpo::ptt
