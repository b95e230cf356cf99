#include "engine/worker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarpo::engine {

// What the receive pass hands out goes to the voice output, which never waits: a full queue
// drops the block. RSID reports go to the user interface and the alert sound.
class AudioWorker::Sink final : public ReceiveSink {
  public:
    explicit Sink(AudioWorker& worker) : worker_(worker) {}
    void voice_block(const std::int16_t* block) override { worker_.sound_.write_block(block); }
    void rsid_detected(double, const char* text) override {
        worker_.notifier_.rsid_report(text);
        if (worker_.alert_) worker_.alert_->play();
    }

  private:
    AudioWorker& worker_;
};

AudioWorker::AudioWorker(Controls& controls, sound::SoundInterface& sound, ptt::PttPort& ptt,
                         Passes& passes, WorkerNotifier& notifier, AlertPlayer* alert, Sleep sleep)
    : controls_(controls),
      sound_(sound),
      ptt_(ptt),
      passes_(passes),
      notifier_(notifier),
      alert_(alert),
      sleep_(sleep ? std::move(sleep)
                   : Sleep([](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); })) {}

AudioWorker::~AudioWorker() {
    // The owner stops the worker (worker_run = 0) and waits for it before destroying it; a
    // thread that never confirmed is left to the process's end rather than aborting it.
    if (thread_.joinable()) {
        if (finished_.load())
            thread_.join();
        else
            thread_.detach();
    }
}

void AudioWorker::start() {
    thread_ = std::thread([this] {
        // One step above normal: a lower nice value. Refused without privilege; that is fine.
        const auto tid = static_cast<id_t>(syscall(SYS_gettid));
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, tid);
        if (errno == 0) setpriority(PRIO_PROCESS, tid, nice - 1);
        run();
        finished_.store(true);
    });
}

bool AudioWorker::join_if_finished() {
    if (!thread_.joinable()) return true;
    if (!finished_.load()) return false;
    thread_.join();
    return true;
}

void AudioWorker::run() {
    sound_.start_input(modem::block_samples);
    sound_.start_output(modem::block_samples);
    while (controls_.worker_run.load()) {
        receive_phase();
        transmit_phase();
    }
    sound_.shutdown();
    controls_.worker_run.store(1);
}

void AudioWorker::receive_phase() {
    pause(100);
    sound_.select_input(controls_.rx_input_device.load(), true);
    sound_.select_output(controls_.voice_output_device.load(), false);
    pause(100);
    Sink sink(*this);
    while (controls_.rx_active.load()) {
        sound_.read_block(input_.data());  // waits for the receiver: paces the phase
        // A read that brought nothing new (the loop device's sender went quiet, or a dead
        // device gave up) leaves the last block in place: demodulating it again would feed
        // the receiver 40 ms of audio twice and make frames out of nothing.
        if (sound_.last_read_delivered()) passes_.receive_block(input_.data(), sink);
    }
}

void AudioWorker::transmit_phase() {
    pause(100);
    sound_.select_output(controls_.tx_output_device.load(), true);
    sound_.select_input(controls_.voice_input_device.load(), false);
    pause(100);
    if (controls_.tx_active.load() && !ptt_.set_loop_ptt(true)) ptt_.key();
    // The burst goes out whenever TXID is on, also on the way to shutdown (unkeyed then).
    if (controls_.txid_on.load()) {
        passes_.start_txid();
        while (passes_.next_txid_block(output_.data())) {
            sound_.write_block(output_.data());  // waits for a free buffer: paces
            sound_.read_block(input_.data());    // keeps the microphone drained
        }
    }
    while (controls_.tx_active.load()) {
        const bool silent = sound_.read_block(input_.data());  // never waits
        sound_.write_block(passes_.transmit_block(input_.data(), silent));
    }
    if (!ptt_.set_loop_ptt(false)) ptt_.unkey();
}

}  // namespace tarpo::engine
