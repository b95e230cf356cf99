// The real engine behind the user interface: the modem station, the codec, the spectrum,
// the sound interface on PortAudio with the optional loop library, the serial PTT and the
// audio worker, wired as the program runs them.
#pragma once

#include <memory>

#include "audio/alert.h"
#include "audio/engine_api.h"
#include "audio/loop_library.h"
#include "audio/passes.h"
#include "audio/ptt.h"
#include "audio/radio_settings.h"
#include "audio/rig_link.h"
#include "audio/serial_lines.h"
#include "audio/serial_ports.h"
#include "audio/sound_backend.h"
#include "audio/sound_interface.h"
#include "audio/worker.h"
#include "modem/acquisition.h"
#include "modem/station.h"
#include "voice/codec_adapter.h"

namespace tarpo::audio {

class Engine final : public EngineApi {
  public:
    // On the machine's sound system (PortAudio) and serial ports.
    Engine();
    // On the given sound backend and serial lines (tests); both must outlive the engine.
    // dirs: where the serial ports are looked for.
    Engine(SoundBackend& backend, SerialLines& lines, AudioWorker::Sleep sleep = {},
           SerialPortDirs dirs = {});
    ~Engine() override;

    SharedState& shared() override { return shared_; }
    void callsign_set(char* text) override { station_.callsign().callsign_set(text); }
    int callsign_take_text(char* buffer) override {
        return station_.callsign().callsign_take_text(buffer);
    }
    void sound_init(int rate) override { sound_.sound_init(rate); }
    int sound_input_count() override { return sound_.sound_input_count(); }
    int sound_output_count() override { return sound_.sound_output_count(); }
    std::string sound_input_name(int index) override { return sound_.sound_input_name(index); }
    std::string sound_output_name(int index) override { return sound_.sound_output_name(index); }
    bool sound_loop_present() override { return sound_.sound_loop_present(); }
    void sound_select_input(int device, bool blocking) override {
        sound_.sound_select_input(device, blocking);
    }
    void sound_select_output(int device, bool blocking) override {
        sound_.sound_select_output(device, blocking);
    }
    void codec_init() override { adapter_.codec_init(); }
    // The choice of txport.bin, followed to where its device is now (txport.path).
    char ptt_port_load() override;
    void ptt_port_open(char choice) override { ptt_.ptt_port_open(choice); }
    // txport.bin, and the device's stable path in txport.path.
    void ptt_port_save(char choice) override;
    std::string ptt_port_device(int n) override;
    void spectrum_init() override { spectrum_.spectrum_init(); }
    void spectrum_tick() override { acquisition_.spectrum_tick(); }
    void request_acquisition() override { acquisition_.request_acquisition(); }
    void request_tuning_at(int x) override { acquisition_.request_tuning_at(x); }
    const std::array<double, 400>& display_spectrum() override {
        return acquisition_.display_spectrum();
    }
    const std::array<double, 15>& error_bars() override { return acquisition_.error_bars(); }
    void modem_init() override { station_.modem_init(); }
    void init_rsid() override { rsid_.init_rsid(); }
    void start_worker(WorkerNotifier& notifier) override;
    void radio_apply(const RadioSettings& settings) override;
    RadioSettings radio_settings() override { return radio_; }
    RigReadout radio_readout() override { return rig_ ? rig_->readout() : RigReadout{}; }
    std::vector<RigModel> rig_models() override { return hamlib_rig_models(); }
    void radio_close() override;
    // Where the rig link's reports go (standard output by default); set before radio_apply.
    void set_radio_report(RigLink::Report report) { radio_report_ = std::move(report); }
    PttPort& ptt() { return ptt_; }

    // Stops the worker as the main window's shutdown does (flags cleared, up to one second
    // in 100 ms steps); true when it confirmed its end.
    bool stop_worker();
    SoundInterface& sound() { return sound_; }
    LoopLibrary& loop() { return loop_; }
    modem::Station& station() { return station_; }

  private:
    // Either the owned backend and lines (null references given) or the given ones.
    Engine(std::unique_ptr<SoundBackend> owned_backend, std::unique_ptr<SerialLines> owned_lines,
           SoundBackend* backend, SerialLines* lines, AudioWorker::Sleep sleep,
           SerialPortDirs dirs);

    std::unique_ptr<SoundBackend> owned_backend_;
    std::unique_ptr<SerialLines> owned_lines_;
    SoundBackend& backend_;
    SerialLines& lines_;
    SharedState shared_;
    modem::Station station_;
    voice::LinkedCodec codec_;
    voice::CodecAdapter adapter_;
    modem::SpectrumAnalyser spectrum_;
    modem::Acquisition acquisition_;
    RsidApi rsid_;
    Passes passes_;
    LoopLibrary loop_;
    SoundInterface sound_;
    // Before ptt_: the PTT method inside ptt_ may use the link.
    std::unique_ptr<RigLink> rig_;
    PttPort ptt_;
    RadioSettings radio_;
    RigLink::Report radio_report_;
    SerialPortDirs dirs_;
    AlertPlayer alert_;
    AudioWorker::Sleep sleep_;
    std::unique_ptr<AudioWorker> worker_;
};

}  // namespace tarpo::audio
