// Keeping a sound queue at its target fill when the two cards on either side of the worker
// run on clocks a little apart. The worker is paced by one card; the queue of the other card
// then gains or loses samples slowly (500 ppm: one 1920-sample block every 80 s). Each block
// that crosses that queue is stretched or squeezed by a few samples, by linear interpolation,
// whenever the queue's smoothed fill has left a window around its target. Only speech and the
// analog pass-through cross a trimmed queue (the voice output while receiving, the microphone
// while sending): a sample in 1920 is a pitch change of 0.05 %, far below hearing, and the
// modem signal is never touched.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarpo::sound {

// How many samples a block gains (> 0) or loses (< 0), from the queue's fill error.
class FillTrim {
  public:
    // Largest correction, samples per block: 16 in 1920 is 0.8 % (14 cents of pitch), for a
    // few seconds after a hold-up of the worker left a block of excess; the drift of two
    // cards at the edges of their tolerance (1000 ppm) takes 2 samples a block.
    static constexpr int max_step = 16;

    // block: samples per block (1920); the window opens at a sixteenth of a block of smoothed
    // error (2.5 ms) and closes again at a sixty-fourth: the smoothing already takes out most
    // of the jumps of a card's callbacks, and a sample a block is inaudible, so the trim may
    // well start early and leave the cushion whole for the jitter it is there for.
    void reset(int block) {
        open_ = block / 16.0;
        close_ = block / 64.0;
        unit_ = block / 32.0;
        average_ = 0.0;
        started_ = false;
        active_ = false;
    }

    // error: samples the queue holds beyond its target (negative: short of it), measured once
    // per block. Returns the samples by which to lengthen the queue with this block: negative
    // when it holds too much.
    int step(double error) {
        // About 16 blocks (0.64 s) of smoothing: a card that moves samples in large callbacks
        // makes the fill jump by a callback at a time.
        average_ = started_ ? average_ + (error - average_) / 16.0 : error;
        started_ = true;
        const double size = std::abs(average_);
        if (size > open_) active_ = true;
        if (size < close_) active_ = false;
        if (!active_) return 0;
        const int amount = std::clamp(static_cast<int>(std::ceil(size / unit_)), 1, max_step);
        return average_ > 0 ? -amount : amount;
    }

    // Whether a fill has been measured since the last reset or restart.
    bool started() const { return started_; }

    // The queue was emptied or primed afresh: its history no longer applies.
    void restart() {
        started_ = false;
        active_ = false;
    }

  private:
    double open_ = 120.0;
    double close_ = 30.0;
    // A sample a block per unit of smoothed error: the error then decays with a time constant
    // of `unit` blocks (60: 2.4 s at 1920).
    double unit_ = 60.0;
    double average_ = 0.0;
    bool started_ = false;
    bool active_ = false;
};

// Linear interpolation of `from` samples onto `to` samples with the first and last kept in
// place (from, to >= 2; equal lengths copy).
inline void stretch(const std::int16_t* src, int from, std::int16_t* dst, int to) {
    if (from == to || from < 2 || to < 2) {
        std::copy_n(src, std::min(from, to), dst);
        std::fill(dst + std::min(from, to), dst + to, from > 0 ? src[from - 1] : std::int16_t{0});
        return;
    }
    const double ratio = static_cast<double>(from - 1) / (to - 1);
    for (int j = 0; j < to; ++j) {
        const double x = j * ratio;
        const int i = std::min(static_cast<int>(x), from - 2);
        const double f = x - i;
        dst[j] = static_cast<std::int16_t>(std::lround(src[i] + f * (src[i + 1] - src[i])));
    }
}

}  // namespace tarpo::sound
