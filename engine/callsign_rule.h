// Which received callsigns are shown. The decoder completes a text at every end mark, whatever
// it heard: the first text of an over mostly holds what noise made of the separators before
// the signal came ("DL1AB/9Q1C 2/84VT//8T/2"), and a receiver that starts in the middle of the
// callsign completes only its tail. A text is confirmed when
//   - it is the same as the text completed just before it, or
//   - every frame since that text was taken in frame sync with the squelch open.
// Only confirmed texts reach the callsign field and the heard log.
#pragma once

#include <array>
#include <complex>
#include <cstdint>

#include "dsp/triple_buffer.h"
#include "modem/callsign.h"

namespace tarpo::engine {

class CallsignRule {
  public:
    // Worker thread, every received symbol: the pilot carrier's sample. The pilot keeps its
    // phase at the first symbol of a frame and reverses it at the second; the receiver is in
    // frame sync while that pattern stands out of the noise.
    void symbol(std::complex<double> pilot);
    bool in_sync() const;

    // Worker thread, after every frame the decoder took, with the squelch as last decided.
    void frame(const modem::CallsignChannel& decoder, bool squelch_open);

    // User-interface thread: the last confirmed text with its terminating zero (80 bytes
    // suffice) and its length including the zero; 0 and nothing copied before the first.
    int take_text(char* buffer);
    // User-interface thread: how many confirmed texts so far (a repetition counts again).
    std::uint32_t text_count();

  private:
    struct Text {
        std::array<char, modem::CallsignChannel::max_text + 1> chars{};
        int length = 0;
        std::uint32_t count = 0;
    };
    void complete(const char* text);

    // Frame sync, worker only: an alternation score as the pilot's phase changes sum up.
    double pilot_score_ = 0.0;
    std::complex<double> last_pilot_{};
    // The texts, worker only.
    std::uint32_t seen_ = 0;  // the decoder's count at the last frame
    bool clean_ = false;      // a text was completed and every frame since was good
    std::array<char, modem::CallsignChannel::max_text + 1> previous_{};
    std::uint32_t confirmed_ = 0;
    dsp::TripleBuffer<Text> shown_;  // worker writes, user interface reads
};

}  // namespace tarpo::engine
