// The five C entries of the SDR loop device. Each direction is one object for the life of the
// library; the configuration comes from loop.txt in the working directory (see loop_config.h).
// Nothing may escape into the caller's C frames, so every entry swallows exceptions (the only
// ones possible are allocation failures at a start).
#include "external/loop.h"
#include "loop/loop_device.h"

namespace {

tarpo::loop::LoopReceiver& receiver() {
    static tarpo::loop::LoopReceiver r("loop.txt");
    return r;
}

tarpo::loop::LoopTransmitter& transmitter() {
    static tarpo::loop::LoopTransmitter t("loop.txt");
    return t;
}

}  // namespace

extern "C" {

void SetPTT(int on) {
    try {
        transmitter().set_ptt(on);
    } catch (...) {
    }
}

void InitRXRecording(int rate, int block_size) {
    try {
        receiver().init_rx_recording(rate, block_size);
    } catch (...) {
    }
}

int ReadRX(double* samples) {
    if (!samples) return 0;
    try {
        return receiver().read_rx(samples);
    } catch (...) {
        return 0;
    }
}

void InitTXPlayback(int rate, int block_size) {
    try {
        transmitter().init_tx_playback(rate, block_size);
    } catch (...) {
    }
}

int WriteTX(double* samples) {
    if (!samples) return 0;
    try {
        return transmitter().write_tx(samples);
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
