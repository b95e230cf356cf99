// The optional SDR loop device library, loaded at run time. When it is absent the program
// runs on sound cards only.
#pragma once

#include <string>

#include "external/loop.h"

namespace tarpo::sound {

class LoopLibrary {
  public:
    LoopLibrary() = default;
    ~LoopLibrary();
    LoopLibrary(const LoopLibrary&) = delete;
    LoopLibrary& operator=(const LoopLibrary&) = delete;

    // Looks for the library beside the running executable, then on the library path (or only
    // at `path` when given). It stays loaded for the life of this object. Returns whether it
    // was loaded with all five entry points.
    bool load(const std::string& path = {});

    bool present() const { return present_; }

    // For tests: takes these entry points in place of the library's, and load() then
    // reports them without looking for any file. Present only when all five are given; all
    // null stands for a machine without the library.
    void use_entry_points(tarpo_set_ptt_fn set_ptt_entry, tarpo_init_rx_recording_fn init_rx_entry,
                          tarpo_read_rx_fn read_rx_entry, tarpo_init_tx_playback_fn init_tx_entry,
                          tarpo_write_tx_fn write_tx_entry);

    // The entry points; call them only when present().
    tarpo_set_ptt_fn set_ptt = nullptr;
    tarpo_init_rx_recording_fn init_rx_recording = nullptr;
    tarpo_read_rx_fn read_rx = nullptr;
    tarpo_init_tx_playback_fn init_tx_playback = nullptr;
    tarpo_write_tx_fn write_tx = nullptr;

  private:
    void* handle_ = nullptr;
    bool present_ = false;
    bool given_ = false;  // use_entry_points was called: never search for the file
};

// What the PTT needs to know from the sound interface: whether the selected output is the
// SDR loop device.
class LoopOutputQuery {
  public:
    virtual ~LoopOutputQuery() = default;
    virtual bool output_is_loop() const = 0;
};

}  // namespace tarpo::sound
