// Received speech on its way to the recorder: the worker hands each decoded 48 kHz block in,
// it is brought down to the codec's 8 kHz and queued; the user-interface thread takes it out
// once per display tick. About 4 s of slack; what does not fit is dropped, never waited for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/rate_convert.h"
#include "engine/sample_fifo.h"
#include "modem/constants.h"

namespace tarpo::engine {

class SpeechTap {
  public:
    // Worker thread: one block of decoded speech (block_samples at 48 kHz).
    void put(const std::int16_t* block) {
        for (int i = 0; i < modem::block_samples / 6; ++i)
            low_[static_cast<std::size_t>(i)] = decimator_.decimate6(block + 6 * i);
        queue_.push(low_.data(), low_.size());
    }
    // User-interface thread: up to n samples at 8 kHz; how many were taken.
    std::size_t take(std::int16_t* out, std::size_t n) { return queue_.pop(out, n); }

  private:
    dsp::Decimator6 decimator_;
    std::array<std::int16_t, modem::block_samples / 6> low_{};
    SampleFifo<32768> queue_;
};

}  // namespace tarpo::engine
