#include "engine/worker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace tarpo::engine {

namespace {

// Empty reads (1 s) before the receiver counts as quiet: longer than the gaps of a sender
// that is merely late, and than the filters' and queues' tail after a signal ends.
constexpr int quiet_reads = 25;

struct Discard final : ReceiveSink {
    void voice_block(const std::int16_t*) override {}
};

}  // namespace

// What the receive pass hands out goes to the voice output, which never waits: a full queue
// drops the block. RSID reports go to the user interface and the alert sound.
// In Analog mode the worker plays each piece itself as it comes, and the passes see whole
// blocks only for the display: that sink plays nothing.
class AudioWorker::Sink final : public ReceiveSink {
  public:
    Sink(AudioWorker& worker, bool plays) : worker_(worker), plays_(plays) {}
    void voice_block(const std::int16_t* block) override {
        if (!plays_) return;
        worker_.sound_.write_block(block);
        if (worker_.tap_ && !worker_.controls_.analog_mode.load()) worker_.tap_->put(block);
    }
    void rsid_detected(double, const char* text) override {
        worker_.notifier_.rsid_report(text);
        if (worker_.alert_) worker_.alert_->play();
    }

  private:
    AudioWorker& worker_;
    bool plays_;
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
    piece_ = modem::block_samples;
    gathered_ = 0;
    sound_.start_input(piece_);
    sound_.start_output(piece_);
    while (controls_.worker_run.load()) {
        receive_phase();
        transmit_phase();
    }
    sound_.shutdown();
    controls_.worker_run.store(1);
}

void AudioWorker::receive_phase() {
    pause(100);
    sound_.select_input(controls_.rx_input_device.load(), true, sound::StreamRole::rx_input);
    sound_.select_output(controls_.voice_output_device.load(), false,
                         sound::StreamRole::voice_output);
    pause(100);
    Sink sink(*this, true);
    Sink display(*this, false);
    while (controls_.rx_active.load()) {
        const bool analog = controls_.analog_mode.load() != 0;
        use_pieces(analog);
        if (analog)
            receive_piece(display);
        else
            receive_whole(sink);
    }
}

// The streams' block size for what comes next: whole blocks, or Analog mode's pieces, which
// halve the delay that gathering and each queue add. A change restarts both streams: a short
// gap in the sound, also within a transmission, which stays keyed.
void AudioWorker::use_pieces(bool pieces) {
    const int n = pieces ? analog_piece : modem::block_samples;
    if (n == piece_) return;
    piece_ = n;
    gathered_ = 0;
    sound_.start_input(n);
    sound_.start_output(n);
}

void AudioWorker::receive_whole(ReceiveSink& sink) {
    // Waits for the receiver: paces the phase. A read that brought nothing new (the loop
    // device's sender went quiet, or a dead device gave up) leaves the last block in
    // place: demodulating it again would feed the receiver 40 ms of audio twice and make
    // frames out of nothing.
    if (sound_.read_block(input_.data()) != sound::SoundInterface::Read::nothing) {
        undelivered_ = 0;
        passes_.receive_block(input_.data(), sink);
    } else if (++undelivered_ >= quiet_reads) {
        quiet_block();
        Discard nothing;  // what noise decodes to is never played nor recorded
        passes_.receive_block(input_.data(), nothing);
        passes_.monitor().squelch_open.store(0);
    }
}

// Analog mode: each piece goes to the voice output as soon as it is read; the display gets
// the block that two pieces make.
void AudioWorker::receive_piece(ReceiveSink& display) {
    std::int16_t* piece = gathered_block_.data() + gathered_;
    if (sound_.read_block(piece) == sound::SoundInterface::Read::nothing) return;
    sound_.write_block(piece);
    gathered_ += piece_;
    if (gathered_ < modem::block_samples) return;
    gathered_ = 0;
    passes_.receive_block(gathered_block_.data(), display);
}

// A receiver whose audio stopped altogether (the loop device's sender went quiet, a dead
// card) is shown as a quiet receiver: after a few empty reads each one passes a block of
// faint noise, so that the meters, the squelch and the graph decay instead of freezing on
// the last signal (not in Analog mode, where it would reach the loudspeaker). Noise, not zeros:
// a run of exact zeros has no phase noise and would make the SNR climb on nothing. Noise this
// faint can still come out below the squelch threshold, so the squelch is held shut and what
// the demodulator makes of it goes nowhere.
void AudioWorker::quiet_block() {
    for (auto& v : input_) {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        v = static_cast<std::int16_t>(static_cast<int>(noise_ % 9) - 4);  // -4..4
    }
}

void AudioWorker::transmit_phase() {
    pause(100);
    sound_.select_output(controls_.tx_output_device.load(), true, sound::StreamRole::tx_output);
    sound_.select_input(controls_.voice_input_device.load(), false, sound::StreamRole::voice_input);
    pause(100);
    const bool keyed = controls_.tx_active.load() != 0;
    const bool tune = controls_.tune.load() != 0;
    if (keyed) key(true);
    // The burst announces a transmission, so it goes out only at the start of one, keyed.
    // The pass through here on the way to shutdown (or after a TX press too short to key)
    // sends nothing: an unkeyed burst would reach a radio on VOX cut short by the owner's
    // one-second wait, and a receiver would retune to a transmission that never comes. A tune
    // is no transmission of ours to announce.
    if (keyed && !tune && controls_.txid_on.load()) {
        passes_.start_txid();
        while (passes_.next_txid_block(output_.data())) {
            const double gain = drive_gain(controls_.drive_db.load());
            send(output_.data(), gain);  // waits for room in the queue: paces
        }
    }
    tune_.reset();
    while (controls_.tx_active.load()) {
        // Analog mode sends the microphone in pieces; a tune and a file go in whole blocks.
        const bool pieces = controls_.analog_mode.load() != 0 && controls_.tune.load() == 0 &&
                            !(keyer_ && keyer_->busy());
        use_pieces(pieces);
        const double gain = drive_gain(controls_.drive_db.load());
        // The wait for room comes before the read: a block read first would sit here for a
        // whole block time while the write waited.
        sound_.wait_output();
        if (pieces)
            transmit_piece(gain);
        else
            transmit_whole(gain);
    }
    if (keyed)
        key(false);
    else
        ptt_.set(false);
}

void AudioWorker::transmit_whole(double gain) {
    // Never waits. A read that brought nothing (the microphone is still gathering its
    // cushion) sends silence rather than the last block over again.
    // An overrun block is sent as silence too.
    bool silent = sound_.read_block(input_.data()) != sound::SoundInterface::Read::delivered;
    if (keyer_ && keyer_->fill_block(input_.data())) silent = false;  // a file as the mic
    const std::int16_t* block =
        controls_.tune.load() ? tune_.next_block() : passes_.transmit_block(input_.data(), silent);
    sound_.write_block(driven(block, piece_, gain));
}

// Analog mode: each microphone piece goes out as soon as it is read (silence when there was
// none); the scope trace gets the block that two pieces make.
void AudioWorker::transmit_piece(double gain) {
    std::int16_t* piece = gathered_block_.data() + gathered_;
    if (sound_.read_block(piece) != sound::SoundInterface::Read::delivered)
        std::fill_n(piece, piece_, std::int16_t{0});
    sound_.write_block(driven(piece, piece_, gain));
    gathered_ += piece_;
    if (gathered_ < modem::block_samples) return;
    gathered_ = 0;
    passes_.show_microphone(gathered_block_.data());
}

// A whole block, written in the streams' pieces, the microphone read along to keep it drained.
void AudioWorker::send(const std::int16_t* block, double gain) {
    const std::int16_t* out = driven(block, modem::block_samples, gain);
    for (int at = 0; at < modem::block_samples; at += piece_) {
        sound_.write_block(out + at);
        sound_.read_block(input_.data());
    }
}

const std::int16_t* AudioWorker::driven(const std::int16_t* block, int n, double gain) {
    int peak = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        const long v = gain >= 1.0 ? block[i] : std::lround(block[i] * gain);
        sent_[i] = static_cast<std::int16_t>(v);
        peak = std::max(peak, static_cast<int>(v < 0 ? -v : v));
    }
    passes_.monitor().tx_peak.raise(peak);
    return sent_.data();
}

void AudioWorker::key(bool on) {
    ptt_.set(on);
    notifier_.keying(on);
}

}  // namespace tarpo::engine
