// What the user interface sets for the worker: the phase (receive, transmit, stop), the five
// toggles, the squelch level, the display choices, the devices, the PTT port and the tuning
// requests. Each is written whole by the user interface and read by the worker, which takes a
// snapshot of them at block boundaries and hands the DSP stages plain values.
#pragma once

#include <atomic>
#include <cmath>
#include <limits>

#include "engine/display_mode.h"

namespace tarpo::engine {

// The values a block pass works with, taken from the controls once per block.
struct BlockSettings {
    bool analog = false;
    bool alc = false;
    bool split = false;
    bool rxid = false;
    int squelch_level = 7;          // 0..15
    int constellation_carrier = 7;  // 0..14
    bool enhanced_receiver = false;
};

struct Controls {
    // Phase: the user interface asks, the worker follows at its next block. worker_run is
    // cleared to stop the worker, which sets it back to 1 as its last action.
    std::atomic<int> rx_active{1};
    std::atomic<int> tx_active{0};
    std::atomic<int> worker_run{1};
    // 1 while the transmit phase sends the steady tune signal instead of the modem's (the
    // transmit switch sets it with tx_active).
    std::atomic<int> tune{0};
    // Transmit drive: the output's scale in dB below full scale, -30..0. The worker takes it
    // once per block; it scales the signal, never changes its shape.
    std::atomic<int> drive_db{0};

    // Toggle buttons.
    std::atomic<int> analog_mode{0};
    std::atomic<int> alc_on{0};
    std::atomic<int> split_on{0};
    std::atomic<int> txid_on{0};
    std::atomic<int> rxid_on{0};

    std::atomic<int> sq_level{7};  // 0..15
    std::atomic<int> display_mode{engine::display_waterfall};
    std::atomic<int> constellation_carrier{7};  // 0..14
    // 1: frames from the enhanced receiver, 0: the differential one (Settings menu; the program
    // starts with what receiver.txt says, the enhanced one without it).
    std::atomic<int> enhanced_receiver{0};

    // Sound devices: list indices, or -1 for the system default.
    std::atomic<int> tx_output_device{0};
    std::atomic<int> voice_input_device{0};
    std::atomic<int> voice_output_device{0};
    std::atomic<int> rx_input_device{0};

    std::atomic<int> ptt_port_choice{0};

    BlockSettings snapshot() const {
        BlockSettings s;
        s.analog = analog_mode.load() != 0;
        s.alc = alc_on.load() != 0;
        s.split = split_on.load() != 0;
        s.rxid = rxid_on.load() != 0;
        s.squelch_level = sq_level.load();
        s.enhanced_receiver = enhanced_receiver.load() != 0;
        const int carrier = constellation_carrier.load();
        s.constellation_carrier = carrier >= 0 && carrier < 15 ? carrier : 7;
        return s;
    }

    // Tuning requests (a click in the graph, an acquisition): the latest one wins. The
    // receiver takes it at its next half-block boundary; while transmitting it waits.
    void request_frequency(double hz) { requested_hz_.store(hz); }
    // Worker: the pending request, or NaN when there is none.
    double take_frequency() { return requested_hz_.exchange(no_request); }

  private:
    static constexpr double no_request = std::numeric_limits<double>::quiet_NaN();
    std::atomic<double> requested_hz_{no_request};
};

}  // namespace tarpo::engine
