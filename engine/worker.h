// The audio worker: the one thread that moves audio and runs all signal processing. It
// alternates between a receive phase (while rx_active) and a transmit phase (while
// tx_active), each a loop over 40 ms blocks (20 ms pieces in Analog mode), until worker_run is
// cleared; then it releases the sound devices and sets worker_run back to 1 as its last action.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "engine/alert.h"
#include "engine/controls.h"
#include "engine/engine_api.h"
#include "engine/passes.h"
#include "engine/speech_tap.h"
#include "engine/tune_signal.h"
#include "engine/voice_keyer.h"
#include "modem/constants.h"
#include "ptt/ptt.h"
#include "sound/sound_interface.h"

namespace tarpo::engine {

class AudioWorker {
  public:
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // Everything passed must outlive the worker. sleep: the pauses of a phase switch (the
    // real clock by default; tests pass the fake sound system's clock). alert may be null.
    AudioWorker(Controls& controls, sound::SoundInterface& sound, ptt::PttPort& ptt, Passes& passes,
                WorkerNotifier& notifier, AlertPlayer* alert, Sleep sleep = {});
    ~AudioWorker();
    AudioWorker(const AudioWorker&) = delete;
    AudioWorker& operator=(const AudioWorker&) = delete;

    // Optional, before start(): a voice keyer that stands in for the microphone while it sends
    // a file, and a tap that receives the decoded speech for recording. Either may be null.
    void attach(VoiceKeyer* keyer, SpeechTap* tap) {
        keyer_ = keyer;
        tap_ = tap;
    }
    // Starts the thread, one priority step above normal where the system allows it.
    void start();
    // The thread's whole life: start-up, cycles of receive and transmit, shutdown.
    void run();
    // Waits for a finished thread; false (and nothing done) while it still runs.
    bool join_if_finished();
    // The thread has returned from run.
    bool finished() const { return finished_.load(); }
    bool running() const { return thread_.joinable(); }

    // Analog mode moves the audio in pieces of this many samples: nothing on its way needs a
    // whole block but the display, which gathers two pieces.
    static constexpr int analog_piece = modem::block_samples / 2;

  private:
    class Sink;
    void receive_phase();
    void transmit_phase();
    void use_pieces(bool pieces);
    void receive_whole(ReceiveSink& sink);
    void receive_piece(ReceiveSink& display);
    void transmit_whole(double gain);
    void transmit_piece(double gain);
    void send(const std::int16_t* block, double gain);
    void pause(int ms) { sleep_(std::chrono::milliseconds(ms)); }
    void key(bool on);
    void quiet_block();
    // n samples scaled by the transmit drive, into sent_, their peak onto the monitor.
    const std::int16_t* driven(const std::int16_t* block, int n, double gain);

    Controls& controls_;
    sound::SoundInterface& sound_;
    ptt::PttPort& ptt_;
    Passes& passes_;
    WorkerNotifier& notifier_;
    AlertPlayer* alert_;
    Sleep sleep_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    VoiceKeyer* keyer_ = nullptr;
    SpeechTap* tap_ = nullptr;
    int undelivered_ = 0;      // reads in a row that brought nothing
    std::uint32_t noise_ = 1;  // state of the faint noise of a quiet receiver
    std::array<std::int16_t, modem::block_samples> input_{};
    std::array<std::int16_t, modem::block_samples> output_{};
    std::array<std::int16_t, modem::block_samples> sent_{};
    // Analog mode's pieces, gathered into a block for the display.
    std::array<std::int16_t, modem::block_samples> gathered_block_{};
    int piece_ = modem::block_samples;  // the streams' block size
    int gathered_ = 0;
    TuneSignal tune_;
};

}  // namespace tarpo::engine
