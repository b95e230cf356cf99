// engine/: the block passes, the worker and the engine the user interface talks to.
// Fourth floor: it includes engine/ and every floor below it, never app/ or ui/.
// The real engine behind the user interface: the modem station, the codec, the spectrum,
// the sound interface on the machine's sound system (its sound server, else PortAudio) with
// the optional loop library, the serial PTT and the audio worker, wired as the program runs
// them.
#pragma once

#include <memory>

#include "engine/alert.h"
#include "engine/display_feed.h"
#include "engine/engine_api.h"
#include "engine/messages.h"
#include "engine/passes.h"
#include "engine/ready_station.h"
#include "engine/speech_tap.h"
#include "engine/voice_keyer.h"
#include "engine/worker.h"
#include "ptt/ptt.h"
#include "ptt/radio_settings.h"
#include "ptt/rig_link.h"
#include "ptt/serial_lines.h"
#include "ptt/serial_ports.h"
#include "sound/loop_library.h"
#include "sound/sound_backend.h"
#include "sound/sound_interface.h"

namespace tarpo::engine {

// The sound layer's fixed texts: said as before, and posted for the status line.
class PostingDiagnostics final : public sound::SoundDiagnostics {
  public:
    explicit PostingDiagnostics(MessageQueue& messages) : messages_(messages) {}
    void print(const char* text) override {
        SoundDiagnostics::print(text);
        messages_.post(text, false);
    }

  private:
    MessageQueue& messages_;
};

class Engine final : public EngineApi {
  public:
    // On the machine's sound system (its sound server, else PortAudio; TARPO_SOUND chooses)
    // and serial ports.
    Engine();
    // On the given sound backend and serial lines (tests); both must outlive the engine.
    // dirs: where the serial ports are looked for.
    Engine(sound::SoundBackend& backend, ptt::SerialLines& lines, AudioWorker::Sleep sleep = {},
           ptt::SerialPortDirs dirs = {});
    ~Engine() override;

    Controls& controls() override { return ready_->controls; }
    Monitor& monitor() override { return ready_->monitor; }
    void callsign_set(char* text) override { ready_->station.callsign().set_text(text); }
    // Only confirmed callsigns (engine/callsign_rule.h).
    int callsign_take_text(char* buffer) override {
        return ready_->passes.callsign_rule().take_text(buffer);
    }
    void sound_init(int rate) override { sound_.init(rate); }
    int sound_input_count() override { return sound_.input_count(); }
    int sound_output_count() override { return sound_.output_count(); }
    std::string sound_input_name(int index) override { return sound_.input_name(index); }
    std::string sound_output_name(int index) override { return sound_.output_name(index); }
    std::string sound_input_id(int index) override { return sound_.input_id(index); }
    std::string sound_output_id(int index) override { return sound_.output_id(index); }
    bool sound_loop_present() override { return sound_.loop_present(); }
    // While transmitting the input is the voice input and the output the tx output.
    void sound_select_input(int device, bool blocking) override {
        sound_.select_input(device, blocking,
                            ready_->controls.tx_active ? sound::StreamRole::voice_input
                                                       : sound::StreamRole::rx_input);
    }
    void sound_select_output(int device, bool blocking) override {
        sound_.select_output(device, blocking,
                             ready_->controls.tx_active ? sound::StreamRole::tx_output
                                                        : sound::StreamRole::voice_output);
    }
    // The choice of txport.bin, followed to where its device is now (txport.path).
    char ptt_port_load() override;
    // Opens the port; one that cannot be opened is said (standard error, status line).
    void ptt_port_open(char choice) override;
    // txport.bin, and the device's stable path in txport.path.
    void ptt_port_save(char choice) override;
    std::string ptt_port_device(int n) override;
    void spectrum_tick() override { display_.tick(ready_->controls, ready_->monitor); }
    void request_acquisition() override { display_.request_acquisition(); }
    void cancel_acquisition() override { display_.cancel_acquisition(); }
    void request_tuning_at(int x) override { display_.request_tuning_at(ready_->controls, x); }
    const std::array<double, modem::spectrum_bins>& display_spectrum() override {
        return display_.display_spectrum();
    }
    const std::array<double, modem::carriers>& error_bars() override {
        return display_.error_bars();
    }
    const DisplayFrame& display_frame() override { return display_.frame(); }
    void start_worker(WorkerNotifier& notifier) override;
    std::uint32_t callsign_text_count() override {
        return ready_->passes.callsign_rule().text_count();
    }
    std::size_t take_received_speech(std::int16_t* out, std::size_t n) override {
        return speech_tap_.take(out, n);
    }
    bool keyer_start(const std::string& path, std::string& error) override;
    int keyer_tick(bool transmitting) override {
        return static_cast<int>(keyer_.tick(transmitting));
    }
    void keyer_stop() override { keyer_.stop(); }
    std::string keyer_error() override { return keyer_.take_error(); }
    bool keyer_busy() override { return keyer_.busy(); }
    int check_input_level(int device) override;
    int check_voice_input_level(int device) override;
    // The second sound system the voice input's meter runs on beside the first (tests); by
    // default the engine that owns its backend makes one of the same system when first asked.
    void use_meter_backend(sound::SoundBackend& backend) { meter_backend_ = &backend; }
    void check_output_tone(int device) override;
    std::string check_ptt(const ptt::RadioSettings& radio, char port, int tx_output) override;
    ptt::RigReadout check_cat(const ptt::RadioSettings& radio) override;
    void check_end() override;
    void radio_apply(const ptt::RadioSettings& settings) override;
    ptt::RadioSettings radio_settings() override { return radio_; }
    ptt::RigReadout radio_readout() override { return rig_ ? rig_->readout() : ptt::RigReadout{}; }
    bool ptt_check() override;
    bool take_message(std::string& text) override { return messages_.take(text); }
    MessageQueue& messages() { return messages_; }
    sound::SoundDiagnostics& sound_diagnostics() { return sound_diagnostics_; }
    void radio_trace(bool on) override { ptt::set_hamlib_trace(on); }
    std::vector<ptt::RigModel> rig_models() override { return ptt::hamlib_rig_models(); }
    bool radio_close() override;
    // Where the rig link's reports go (standard error by default); set before radio_apply.
    void set_radio_report(ptt::RigLink::Report report) { radio_report_ = std::move(report); }

    // Stops the worker as the main window's shutdown does (flags cleared, up to one second
    // in 100 ms steps); true when it confirmed its end.
    bool stop_worker();
    sound::SoundInterface& sound() { return sound_; }
    sound::LoopLibrary& loop() { return loop_; }
    modem::Station& station() { return ready_->station; }

  private:
    // Either the owned backend and lines (null references given) or the given ones.
    Engine(std::unique_ptr<sound::SoundBackend> owned_backend,
           std::unique_ptr<ptt::SerialLines> owned_lines, sound::SoundBackend* backend,
           ptt::SerialLines* lines, AudioWorker::Sleep sleep, ptt::SerialPortDirs dirs);

    std::unique_ptr<sound::SoundBackend> owned_backend_;
    std::unique_ptr<ptt::SerialLines> owned_lines_;
    sound::SoundBackend& backend_;
    ptt::SerialLines& lines_;
    ptt::RigLink::Report rig_report();

    std::unique_ptr<ReadyStation> ready_;
    DisplayFeed display_;
    sound::LoopLibrary loop_;
    MessageQueue messages_;  // before everything that posts to it
    PostingDiagnostics sound_diagnostics_;
    sound::SoundInterface sound_;
    // Before ptt_: the PTT method inside ptt_ may use the link.
    std::unique_ptr<ptt::RigLink> rig_;
    ptt::PttPort ptt_;
    ptt::RadioSettings radio_;
    ptt::RigLink::Report radio_report_;
    bool ptt_settled_ = true;  // as the last ptt_check found it
    ptt::SerialPortDirs dirs_;
    AlertPlayer alert_;
    AudioWorker::Sleep sleep_;
    VoiceKeyer keyer_;
    SpeechTap speech_tap_;
    std::unique_ptr<AudioWorker> worker_;
    // An input metered by the set-up dialog: the device (-2 none), whether it was started.
    struct InputCheck {
        int device = -2;
        bool started = false;
    };
    static int meter_peak(sound::SoundInterface& sound, InputCheck& check, int device,
                          sound::StreamRole role);
    // The voice input's meter: a sound interface of its own on a second backend, so that both
    // inputs are metered at once (the first interface has one input).
    sound::SoundInterface* meter_sound();

    InputCheck rx_check_;
    InputCheck voice_check_;
    bool check_output_started_ = false;
    std::unique_ptr<sound::SoundBackend> meter_backend_owned_;
    sound::SoundBackend* meter_backend_ = nullptr;
    sound::LoopLibrary meter_loop_;  // never loaded: the voice side has no loop device
    std::unique_ptr<sound::SoundInterface> meter_sound_;
};

}  // namespace tarpo::engine
