#include "engine/engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "ptt/port_by_name.h"
#include "ptt/ptt_cm108.h"
#include "ptt/serial_ports.h"
#include "sound/sound_choice.h"

namespace tarpo::engine {

using ptt::Cm108Ptt;
using ptt::com_port_device;
using ptt::HamlibPtt;
using ptt::PortChoice;
using ptt::PttKind;
using ptt::PttMethod;
using ptt::RadioSettings;
using ptt::RigConfig;
using ptt::RigLink;
using ptt::VoxPtt;

Engine::Engine()
    : Engine(sound::make_sound_backend(sound::sound_system_from_environment()),
             std::make_unique<ptt::TtySerialLines>(), nullptr, nullptr, {}, {}) {}

Engine::Engine(sound::SoundBackend& backend, ptt::SerialLines& lines, AudioWorker::Sleep sleep,
               ptt::SerialPortDirs dirs)
    : Engine(nullptr, nullptr, &backend, &lines, std::move(sleep), std::move(dirs)) {}

Engine::Engine(std::unique_ptr<sound::SoundBackend> owned_backend,
               std::unique_ptr<ptt::SerialLines> owned_lines, sound::SoundBackend* backend,
               ptt::SerialLines* lines, AudioWorker::Sleep sleep, ptt::SerialPortDirs dirs)
    : owned_backend_(std::move(owned_backend)),
      owned_lines_(std::move(owned_lines)),
      backend_(backend ? *backend : *owned_backend_),
      lines_(lines ? *lines : *owned_lines_),
      ready_(make_station()),
      sound_diagnostics_(messages_),
      sound_(backend_, loop_, sound_diagnostics_),
      ptt_(loop_, sound_, lines_, dirs),
      dirs_(std::move(dirs)),
      sleep_(std::move(sleep)) {}

Engine::~Engine() {
    radio_close();
    if (worker_ && worker_->running() && !worker_->join_if_finished()) {
        // The worker never confirmed its end (a device that hangs inside the sound system):
        // end the process here, cleanly and at once, rather than destroy what the thread
        // still uses. The kernel drops the PTT lines as the port closes.
        std::fflush(nullptr);
        std::_Exit(0);
    }
}

std::string Engine::ptt_port_device(int n) {
    if (n < 1 || n > 8) return {};
    return ptt::com_port_device(static_cast<char>('0' + n), dirs_);
}

char Engine::ptt_port_load() {
    const char saved = ptt_.load_choice();
    const std::string path = ptt::load_port_path(ptt::port_path_file(ptt_.txport_path()));
    const PortChoice port = ptt::resolve_port_choice(saved, path, dirs_);
    if (port.missing) {
        const std::string text = "PTT port " + path + " is not connected: no PTT port.";
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        messages_.post(text, false);
    }
    return port.choice;
}

void Engine::ptt_port_save(char choice) {
    ptt_.save_choice(choice);
    ptt::save_port_path(ptt::port_path_file(ptt_.txport_path()), com_port_device(choice, dirs_));
}

namespace {

std::unique_ptr<PttMethod> open_cm108(const RadioSettings& s, MessageQueue& messages) {
    auto method = std::make_unique<Cm108Ptt>(s.cm108_device, s.cm108_gpio);
    if (!method->open()) {
        const std::string text = "Radio: cannot open " + s.cm108_device + " for CM108 PTT.";
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        messages.post(text, false);
    }
    return method;
}

}  // namespace

void Engine::radio_apply(const RadioSettings& s) {
    radio_ = s;
    // The old method unkeys as it closes, then the old link unkeys the rig and lets go, before
    // a new link opens: one rig thread at a time. Meanwhile nothing keys.
    ptt_.use_method(std::make_unique<VoxPtt>()).reset();
    rig_.reset();
    // With PTT through Hamlib the link keys the rig; otherwise it may read the dial alone and
    // then never sends a PTT command.
    const bool keys = ptt::keys_through_hamlib(s.method);
    const ptt::DialRig rig = ptt::rig_link_of(s);
    if (rig == ptt::DialRig::cat)
        rig_ = std::make_unique<RigLink>(
            RigConfig{
                .model = s.rig_model, .pathname = s.rig_port, .baud = s.rig_baud, .keys = keys},
            rig_report());
    if (rig == ptt::DialRig::net)
        rig_ = std::make_unique<RigLink>(
            RigConfig{.model = ptt::hamlib_net_model,
                      .pathname = s.net_host + ":" + std::to_string(s.net_port),
                      .keys = keys},
            rig_report());
    std::unique_ptr<PttMethod> method;
    if (rig_ && keys) method = std::make_unique<HamlibPtt>(*rig_);
    if (s.method == PttKind::vox) method = std::make_unique<VoxPtt>();
    if (s.method == PttKind::cm108) method = open_cm108(s, messages_);
    ptt_.set_keyed_lines(s.method != PttKind::serial_dtr, s.method != PttKind::serial_rts);
    ptt_.use_method(std::move(method)).reset();
}

ptt::RigLink::Report Engine::rig_report() {
    // The link says each occurrence once: said as before, and put in the status line.
    return [this](const std::string& text) {
        if (radio_report_)
            radio_report_(text);
        else
            std::fprintf(stderr, "%s\n", text.c_str());
        messages_.post(text, false);
    };
}

void Engine::ptt_port_open(char choice) {
    ptt_.open_port(choice);
    if (choice < '1' || choice > '8' || ptt_.port_open()) return;
    const std::string device = com_port_device(choice, dirs_);
    messages_.post(device.empty()
                       ? std::string("PTT: Com ") + choice + " is not on this machine: no PTT port"
                       : std::string("PTT: cannot open Com ") + choice + " (" + device +
                             "): no PTT port");
}

bool Engine::ptt_check() {
    ptt_.retry();
    const bool settled = ptt_.settled();
    if (!settled && ptt_settled_)
        // The port or the CM108 says it on standard error itself.
        messages_.post(
            "PTT: the keying did not take effect (the port or device refuses); trying again",
            false);
    ptt_settled_ = settled;
    return settled;
}

bool Engine::radio_close() {
    ptt_.use_method(nullptr).reset();
    const bool unkeyed = !rig_ || rig_->stop();
    rig_.reset();
    return unkeyed;
}

void Engine::start_worker(WorkerNotifier& notifier) {
    if (worker_) return;
    worker_ = std::make_unique<AudioWorker>(ready_->controls, sound_, ptt_, ready_->passes,
                                            notifier, &alert_, sleep_);
    worker_->attach(&keyer_, &speech_tap_);
    worker_->start();
}

int Engine::meter_peak(sound::SoundInterface& sound, InputCheck& check, int device,
                       sound::StreamRole role) {
    if (!check.started) {
        sound.start_input(modem::block_samples);
        check.started = true;
    }
    if (device != check.device) {
        sound.select_input(device, false, role);
        check.device = device;
    }
    // A display tick's worth of blocks at most: a loop device paces its reads.
    std::array<std::int16_t, modem::block_samples> block{};
    int peak = -1;
    for (int i = 0; i < 4; ++i) {
        if (sound.read_block(block.data()) == sound::SoundInterface::Read::nothing) break;
        for (const std::int16_t v : block) peak = std::max(peak, std::abs(static_cast<int>(v)));
    }
    return peak;
}

int Engine::check_input_level(int device) {
    if (worker_) return -1;
    return meter_peak(sound_, rx_check_, device, sound::StreamRole::rx_input);
}

sound::SoundInterface* Engine::meter_sound() {
    if (meter_sound_) return meter_sound_.get();
    if (!meter_backend_ && owned_backend_) {
        meter_backend_owned_ = sound::make_sound_backend(sound::sound_system_from_environment());
        meter_backend_ = meter_backend_owned_.get();
    }
    if (!meter_backend_) return nullptr;
    meter_loop_.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);
    meter_sound_ =
        std::make_unique<sound::SoundInterface>(*meter_backend_, meter_loop_, sound_diagnostics_);
    meter_sound_->init(48000);
    return meter_sound_.get();
}

int Engine::check_voice_input_level(int device) {
    if (worker_) return -1;
    sound::SoundInterface* meter = meter_sound();
    if (!meter) return -1;
    // The same device on the second system's list, found by its stable name.
    const std::optional<int> there = meter->find_input(sound_.input_id(device));
    return meter_peak(*meter, voice_check_, there.value_or(device), sound::StreamRole::voice_input);
}

void Engine::check_output_tone(int device) {
    if (worker_) return;
    if (!check_output_started_) {
        sound_.start_output(modem::block_samples);
        check_output_started_ = true;
    }
    sound_.select_output(device, true);
    // 1 kHz at -20 dBFS: 48 samples a period, 25 blocks a second.
    std::array<std::int16_t, modem::block_samples> block{};
    const double amplitude = 32767.0 * 0.1;
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * M_PI * static_cast<double>(i % 48) / 48.0)));
    for (int b = 0; b < 25; ++b) sound_.write_block(block.data());
}

std::string Engine::check_ptt(const RadioSettings& radio, char port, int tx_output) {
    if (worker_) return "PTT cannot be tested while the program runs";
    if (!(radio == radio_)) radio_apply(radio);
    ptt_.open_port(port);
    sound_.select_output(tx_output, true);
    auto wait = [this](int ms, bool keyed) {
        for (int t = 0; t < ms; t += 50) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ptt_.retry();
            const ptt::RigReadout r = radio_readout();
            if (r.state == ptt::RigReadout::State::connected && r.confirmed && r.keyed == keyed)
                return true;
        }
        return false;
    };
    ptt_.set(true);
    const auto keyed_at = std::chrono::steady_clock::now();
    const bool on = wait(1000, true);
    std::this_thread::sleep_until(keyed_at + std::chrono::seconds(1));
    ptt_.set(false);
    const bool off = wait(1500, false);
    if (sound_.output_is_loop()) return "Keyed for 1 s through the SDR loop device.";
    if (!rig_)
        return ptt_.settled()
                   ? "Keyed for 1 s; this PTT method cannot tell whether the rig answered."
                   : "Keyed for 1 s, but the PTT line did not take the change.";
    if (on && off) return "The rig answered: PTT on for 1 s, then off.";
    if (on) return "The rig keyed but has not confirmed PTT off: look at the transmitter!";
    return "The rig did not confirm PTT (no answer over CAT).";
}

ptt::RigReadout Engine::check_cat(const RadioSettings& radio) {
    if (worker_) return radio_readout();
    if (!(radio == radio_)) radio_apply(radio);
    for (int t = 0; t < 3000 && rig_; t += 50) {
        const ptt::RigReadout r = rig_->readout();
        if (r.state == ptt::RigReadout::State::failed ||
            (r.state == ptt::RigReadout::State::connected && r.freq_hz > 0))
            return r;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return radio_readout();
}

void Engine::check_end() {
    if (worker_) return;
    if (rx_check_.started) sound_.stop(sound::Direction::input);
    if (check_output_started_) sound_.stop(sound::Direction::output);
    // The second interface and its backend go: nothing of them stays open while the worker runs.
    meter_sound_.reset();
    if (meter_backend_owned_) {
        meter_backend_owned_.reset();
        meter_backend_ = nullptr;
    }
    rx_check_ = {};
    voice_check_ = {};
    check_output_started_ = false;
}

bool Engine::keyer_start(const std::string& path, std::string& error) {
    return keyer_.start_file(path, error);
}

bool Engine::stop_worker() {
    ready_->controls.rx_active.store(0);
    ready_->controls.tx_active.store(0);
    if (!worker_ || worker_->finished()) return !worker_ || worker_->join_if_finished();
    ready_->controls.worker_run.store(0);
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (ready_->controls.worker_run.load()) break;
    }
    // worker_run comes back just before the thread returns: give it that moment.
    for (int i = 0; i < 100 && ready_->controls.worker_run.load() && !worker_->finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return worker_->join_if_finished();
}

}  // namespace tarpo::engine
