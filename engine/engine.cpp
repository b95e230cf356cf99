#include "engine/engine.h"

#include <cstdio>
#include <thread>

#include "ptt/serial_ports.h"
#include "sound/sound_portaudio.h"

namespace tarpo::engine {

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
      sound_(backend_, loop_),
      ptt_(loop_, sound_, lines_, dirs),
      dirs_(std::move(dirs)),
      sleep_(std::move(sleep)) {}

Engine::~Engine() {
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

void Engine::start_worker(WorkerNotifier& notifier) {
    if (worker_) return;
    worker_ = std::make_unique<AudioWorker>(ready_->controls, sound_, ptt_, ready_->passes,
                                            notifier, &alert_, sleep_);
    worker_->start();
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
