#include "engine/engine.h"

#include <cstdio>
#include <thread>
#include <utility>

#include "ptt/port_by_name.h"
#include "ptt/ptt_cm108.h"
#include "ptt/serial_ports.h"
#include "sound/sound_portaudio.h"

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
    : Engine(std::make_unique<sound::PortAudioBackend>(), std::make_unique<ptt::TtySerialLines>(),
             nullptr, nullptr, {}, {}) {}

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
