// The callsign side channel: one dibit per frame carries the operator's callsign, sent over
// and over in a variable-length code of one to three non-zero dibits per character, with the
// dibit 0 as separator and '#' as end of text.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/triple_buffer.h"

namespace tarpo::modem {

// Code of each character of the channel's alphabet, index 0..38: space, '/', '#', '1'..'9',
// 'A'..'Z', '0'. The dibits of a code are its two-bit groups from the low end.
inline constexpr std::array<std::uint16_t, 39> callsign_codes = {
    3,  1,  2,  15, 7,  11, 13, 5,  9,  14, 6,  10, 63, 31, 47, 55, 23, 39, 59, 27,
    43, 61, 29, 45, 53, 21, 37, 57, 25, 41, 62, 30, 46, 54, 22, 38, 58, 26, 42};

// Table index of a character (after upper-casing), or -1 when the alphabet lacks it.
int callsign_index(unsigned char c);

class CallsignChannel {
  public:
    static constexpr int max_text = 80;                    // characters sent at most
    static constexpr int text_buffer_size = max_text;      // what take_text may copy
    static constexpr int max_sequence = max_text * 4 + 3;  // dibits

    // User-interface thread: builds the dibit sequence of a zero-terminated text (at most its
    // first 80 characters count) and upper-cases those characters in place. The new sequence
    // takes over whole at the next dibit the transmitter asks for.
    void set_text(char* text);

    // Worker thread, once per transmitted frame: the next dibit of the sequence (0..3).
    int next_dibit();

    // Worker thread, once per received frame.
    void receive_dibit(int dibit);

    // User-interface thread: copies the last complete received text with its terminating zero
    // into buffer (80 bytes) and returns its length including the zero; 0 and nothing copied
    // before the first complete text.
    int take_text(char* buffer);
    // User-interface thread: how many complete texts have been received so far; a new
    // reception of the same callsign counts again.
    std::uint32_t text_count();

    // Worker thread: how many texts the decoder has completed, and the last of them
    // (zero-terminated, "" before the first).
    std::uint32_t received_count() const { return text_count_; }
    const char* received_text() const { return completed_.data(); }

  private:
    struct Sequence {
        std::array<std::uint8_t, max_sequence> dibits{};
        int length = 0;
    };
    struct Text {
        std::array<char, 88> chars{};
        int length = 0;           // including the terminating zero; 0 before the first text
        std::uint32_t count = 0;  // complete texts received up to and including this one
    };

    dsp::TripleBuffer<Sequence> sequence_;  // user interface writes, worker reads
    int read_pos_ = 0;                      // worker only

    // Decoder, worker only.
    std::array<int, 7> pending_{};
    int pending_count_ = 0;
    std::array<char, max_text> collecting_{};
    int write_pos_ = 0;
    std::uint32_t text_count_ = 0;
    std::array<char, max_text + 1> completed_{};
    dsp::TripleBuffer<Text> last_text_;  // worker writes, user interface reads
};

}  // namespace tarpo::modem
