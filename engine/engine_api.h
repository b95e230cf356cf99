// Everything the user interface asks of the engine, in the order and with the names the
// program's start-up, timer and dialogs use. The real engine (engine/engine.h) implements it;
// the user interface's tests use a recording fake. No toolkit types cross it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/monitor.h"
#include "modem/analyser.h"
#include "modem/constants.h"
#include "ptt/radio_settings.h"
#include "ptt/rig_readout.h"

namespace tarpo::engine {

// Reports from the worker thread. Implementations must be safe to call from the worker while
// the user interface runs (for example by queueing a call onto the user-interface thread).
class WorkerNotifier {
  public:
    virtual ~WorkerNotifier() = default;
    // text is "RSID <frequency with one decimal>  TARPO", for the callsign field (1115).
    virtual void rsid_report(const char* text) = 0;
    // The transmitter was keyed (true) or unkeyed (false), right after the PTT changed; also
    // when no PTT port is chosen, since the transmit audio starts and stops there all the same.
    virtual void keying(bool /*on*/) {}
};

class EngineApi {
  public:
    virtual ~EngineApi() = default;

    // What the user interface sets for the worker, and what the receiver shows it.
    virtual Controls& controls() = 0;
    virtual Monitor& monitor() = 0;

    // Callsign channel. text: 80 bytes, zero-terminated; upper-cased in place.
    virtual void callsign_set(char* text) = 0;
    // Copies the last confirmed received callsign (80 bytes suffice; engine/callsign_rule.h);
    // its length including the terminating zero, or 0 before the first one.
    virtual int callsign_take_text(char* buffer) = 0;

    // Sound devices. Lists: every sound card (up to sound::max_listed_devices, 1000), then the
    // SDR loop entry when the loop library is present.
    virtual void sound_init(int rate) = 0;
    virtual int sound_input_count() = 0;
    virtual int sound_output_count() = 0;
    virtual std::string sound_input_name(int index) = 0;
    virtual std::string sound_output_name(int index) = 0;
    // The entry's stable name (the sound system's own name for the device), which is what
    // the device-name file keeps; by default the shown name.
    virtual std::string sound_input_id(int index) { return sound_input_name(index); }
    virtual std::string sound_output_id(int index) { return sound_output_name(index); }
    virtual bool sound_loop_present() = 0;
    virtual void sound_select_input(int device, bool blocking) = 0;
    virtual void sound_select_output(int device, bool blocking) = 0;

    // PTT port: '0' none, '1'..'8' Com 1..8, anything else opens nothing.
    virtual char ptt_port_load() = 0;
    virtual void ptt_port_open(char choice) = 0;
    virtual void ptt_port_save(char choice) = 0;
    // The Linux device that "Com n" (1..8) maps to, or "" when that number has none.
    virtual std::string ptt_port_device(int n) = 0;

    // Spectrum, acquisition and the display arrays they prepare (user-interface thread).
    virtual void spectrum_tick() = 0;
    virtual void request_acquisition() = 0;
    // Drops an acquisition requested but not yet served (the end of a transmission).
    virtual void cancel_acquisition() = 0;
    virtual void request_tuning_at(int x) = 0;
    virtual const std::array<double, modem::spectrum_bins>& display_spectrum() = 0;
    virtual const std::array<double, modem::carriers>& error_bars() = 0;
    // The receiver's picture that the last spectrum tick took.
    virtual const DisplayFrame& display_frame() = 0;

    // Radio: the PTT method and the rig link of radio.txt, applied at start and by the Radio
    // dialog. The engines without a radio (the user interface's tests) keep the defaults.
    virtual void radio_apply(const ptt::RadioSettings&) {}
    virtual ptt::RadioSettings radio_settings() { return {}; }
    // The rig's state, frequency and mode, for the main window's timer.
    virtual ptt::RigReadout radio_readout() { return {}; }
    // Once per display tick: sends the PTT state again where the last change did not take
    // effect; false while it still has not.
    virtual bool ptt_check() { return true; }
    // Messages a user must act on (a device that will not open, a PTT port that fails, a rig
    // that stopped answering), oldest first, each once; false when none waits. User-interface
    // thread, once per display tick.
    virtual bool take_message(std::string& /*text*/) { return false; }
    // Hamlib's own trace on standard error (the program's --verbose).
    virtual void radio_trace(bool) {}
    // Hamlib's rig models, for the Radio dialog.
    virtual std::vector<ptt::RigModel> rig_models() { return {}; }
    // Unkeys and lets go of the rig; called once the worker has been stopped. False when the
    // rig did not confirm that it is unkeyed (said on standard error).
    virtual bool radio_close() { return true; }

    // The engine is ready (modem, codec, spectrum, RSID) once built. Starts the audio worker
    // thread; it runs until worker_run is cleared, then sets it back to 1 as its last action.
    virtual void start_worker(WorkerNotifier& notifier) = 0;

    // Operator features; an engine without them keeps these defaults.
    // The number of confirmed callsigns received so far (a repeated callsign counts again).
    virtual std::uint32_t callsign_text_count() { return 0; }
    // Takes up to n samples of received speech at 8000 Hz decoded since the last call.
    virtual std::size_t take_received_speech(std::int16_t* /*out*/, std::size_t /*n*/) { return 0; }
    // Voice keyer: loads a sound file to be sent as the microphone; false with a one-line
    // reason when it cannot be read or a file is still being sent.
    virtual bool keyer_start(const std::string& path, std::string& error) {
        error = path + ": the voice keyer is not available";
        return false;
    }
    // Once per display tick: 0 nothing to do, 1 key the transmitter, 2 unkey (file sent).
    virtual int keyer_tick(bool /*transmitting*/) { return 0; }
    // Ends the file being sent (TX pressed).
    virtual void keyer_stop() {}
    // Why the file being sent stopped before its end (a decoder error, a sample that is not
    // a number), once, after the tick that found it; "" otherwise.
    virtual std::string keyer_error() { return {}; }
    virtual bool keyer_busy() { return false; }

    // The set-up dialog's checks, on the user-interface thread after sound_init and before the
    // worker runs (once it runs they do nothing). None of them keys but check_ptt.
    // The peak (0..32767) of what input `device` delivered since the last call, -1 when
    // nothing came; a call for another device than the last one switches to it.
    virtual int check_input_level(int /*device*/) { return -1; }
    // The same for the voice input, metered at the same time as the rx input.
    virtual int check_voice_input_level(int /*device*/) { return -1; }
    // Sends one second of a 1 kHz tone at -20 dBFS to output `device`, unkeyed.
    virtual void check_output_tone(int /*device*/) {}
    // Applies `radio` and the PTT port `port` ('0'..'8'), keys for one second with the tx
    // output `tx_output` (the loop device keys through its own datagram), unkeys; one line
    // that says whether the rig answered, when the method can tell.
    virtual std::string check_ptt(const ptt::RadioSettings& /*radio*/, char /*port*/,
                                  int /*tx_output*/) {
        return "PTT cannot be tested here";
    }
    // Applies `radio` and waits up to three seconds for the rig to tell its dial.
    virtual ptt::RigReadout check_cat(const ptt::RadioSettings& /*radio*/) { return {}; }
    // Lets go of what the checks opened; the worker opens its own devices.
    virtual void check_end() {}
};

}  // namespace tarpo::engine
