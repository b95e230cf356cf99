#include "modem/callsign.h"

#include <cstring>

namespace tarpo::modem {

int callsign_index(unsigned char c) {
    if (c == ' ') return 0;
    if (c == '/') return 1;
    if (c == '#') return 2;
    if (c >= '1' && c <= '9') return c - 46;
    if (c >= 'A' && c <= 'Z') return c - 53;
    if (c == '0') return 38;
    return -1;
}

namespace {

int dibit_count(std::uint16_t code) {
    return code < 4 ? 1 : code < 16 ? 2 : 3;
}

}  // namespace

void CallsignChannel::set_text(char* text) {
    Sequence& seq = sequence_.back();
    int len = 0;
    const int n = static_cast<int>(strnlen(text, max_text));
    for (int i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 'a' && c <= 'z') {
            c = static_cast<unsigned char>(c - 32);
            text[i] = static_cast<char>(c);
        }
        const int index = callsign_index(c);
        const std::uint16_t code = callsign_codes[static_cast<std::size_t>(index < 0 ? 0 : index)];
        seq.dibits[static_cast<std::size_t>(len++)] = 0;
        for (int d = 0; d < dibit_count(code); ++d)
            seq.dibits[static_cast<std::size_t>(len++)] =
                static_cast<std::uint8_t>((code >> (2 * d)) & 3);
    }
    // End of text: the separator, '#' (dibit 2) and one more separator.
    seq.dibits[static_cast<std::size_t>(len++)] = 0;
    seq.dibits[static_cast<std::size_t>(len++)] = 2;
    seq.dibits[static_cast<std::size_t>(len++)] = 0;
    seq.length = len;
    sequence_.publish();
}

int CallsignChannel::next_dibit() {
    const Sequence& seq = sequence_.front();
    if (seq.length == 0) return 0;  // nothing set yet: separators only
    // A new, shorter sequence may leave the read position beyond its end: start it afresh.
    if (read_pos_ >= seq.length) read_pos_ = 0;
    const int dibit = seq.dibits[static_cast<std::size_t>(read_pos_)];
    if (++read_pos_ >= seq.length) read_pos_ = 0;
    return dibit;
}

void CallsignChannel::receive_dibit(int dibit) {
    dibit &= 3;
    if (dibit != 0) {
        pending_[static_cast<std::size_t>(pending_count_)] = dibit;
        if (pending_count_ <= 5) ++pending_count_;
        return;
    }
    int v = 0;
    if (pending_count_ == 1) v = pending_[0];
    if (pending_count_ == 2) v = pending_[0] + 4 * pending_[1];
    if (pending_count_ == 3) v = pending_[0] + 4 * pending_[1] + 16 * pending_[2];
    pending_count_ = 0;
    if (v == 0) return;
    int index = -1;
    for (int i = 0; i < static_cast<int>(callsign_codes.size()); ++i)
        if (callsign_codes[static_cast<std::size_t>(i)] == v) index = i;
    if (index < 0) return;
    if (index == 2) {  // '#': the collected characters become the last complete text
        Text& text = last_text_.back();
        std::memcpy(text.chars.data(), collecting_.data(), static_cast<std::size_t>(write_pos_));
        text.chars[static_cast<std::size_t>(write_pos_)] = 0;
        text.length = write_pos_ + 1;
        text.count = ++text_count_;
        std::memcpy(completed_.data(), text.chars.data(), static_cast<std::size_t>(text.length));
        last_text_.publish();
        write_pos_ = 0;
        return;
    }
    static constexpr char alphabet[] = " /#123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0";
    collecting_[static_cast<std::size_t>(write_pos_)] = alphabet[index];
    if (++write_pos_ >= max_text) write_pos_ = 0;
}

int CallsignChannel::take_text(char* buffer) {
    const Text& text = last_text_.front();
    if (text.length == 0) return 0;
    std::memcpy(buffer, text.chars.data(), static_cast<std::size_t>(text.length));
    return text.length;
}

std::uint32_t CallsignChannel::text_count() {
    return last_text_.front().count;
}

}  // namespace tarpo::modem
