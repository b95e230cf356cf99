// One way of keying the transmitter, beside the serial port's RTS and DTR lines that PttPort
// drives itself: no keying at all (the rig's VOX), CAT or a network rig through Hamlib, or a
// GPIO pin of a USB sound interface. Every method keeps the same promises:
// - open() never keys; it leaves the transmitter off;
// - key() and unkey() return at once (they may post the change to a thread of their own, so
//   the audio worker never waits on a rig);
// - close() unkeys first, and the destructor closes;
// - a key() or unkey() that did not take effect (a failed write) leaves settled() false
//   until retry() gets it through.
#pragma once

#include <string>

namespace tarpo::ptt {

class PttMethod {
  public:
    virtual ~PttMethod() = default;
    // False when the method cannot work (a missing device); key() and unkey() then do nothing.
    virtual bool open() = 0;
    virtual void key() = 0;
    virtual void unkey() = 0;
    virtual void close() = 0;
    // Whether the last key() or unkey() took effect, as far as the method can tell.
    virtual bool settled() const { return true; }
    // Sends the last state again when it did not take effect; never blocks.
    virtual void retry() {}
};

// The rig keys itself on the audio (VOX), or the operator does: nothing to do.
class VoxPtt final : public PttMethod {
  public:
    bool open() override { return true; }
    void key() override {}
    void unkey() override {}
    void close() override {}
};

}  // namespace tarpo::ptt
