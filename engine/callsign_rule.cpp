#include "engine/callsign_rule.h"

#include <cmath>
#include <cstring>

namespace tarpo::engine {

namespace {

// The score remembers about 20 symbols: a clean pilot settles near 20, noise or a data
// carrier spreads about +-2.3. Above 10 the pattern is taken as found.
constexpr double pilot_memory = 0.95;
constexpr double sync_threshold = 10.0;

// A text worth showing: something besides blanks, '/' and '-'.
bool has_call(const char* text) {
    for (; *text != '\0'; ++text)
        if (*text != ' ' && *text != '/' && *text != '-') return true;
    return false;
}

}  // namespace

void CallsignRule::symbol(std::complex<double> pilot) {
    const double m = std::abs(pilot) * std::abs(last_pilot_);
    // cos of the phase change: +1 kept, -1 reversed; the score's sign alternates.
    const double p = m > 0.0 ? (pilot * std::conj(last_pilot_)).real() / m : 0.0;
    pilot_score_ = p - pilot_memory * pilot_score_;
    if (!std::isfinite(pilot_score_)) pilot_score_ = 0.0;
    last_pilot_ = pilot;
}

bool CallsignRule::in_sync() const {
    return std::abs(pilot_score_) > sync_threshold;
}

void CallsignRule::frame(const modem::CallsignChannel& decoder, bool squelch_open) {
    const bool good = squelch_open && in_sync();
    if (decoder.received_count() == seen_) {
        clean_ = clean_ && good;
        return;
    }
    seen_ = decoder.received_count();
    const char* text = decoder.received_text();
    const bool repeated = std::strcmp(text, previous_.data()) == 0;
    if (has_call(text) && ((clean_ && good) || repeated)) complete(text);
    const std::size_t n = strnlen(text, previous_.size() - 1);
    std::memcpy(previous_.data(), text, n);
    previous_[n] = '\0';
    // The next text starts with this frame, right after the end mark.
    clean_ = good;
}

void CallsignRule::complete(const char* text) {
    Text& t = shown_.back();
    const std::size_t n = strnlen(text, t.chars.size() - 1);
    std::memcpy(t.chars.data(), text, n);
    t.chars[n] = '\0';
    t.length = static_cast<int>(n) + 1;
    t.count = ++confirmed_;
    shown_.publish();
}

int CallsignRule::take_text(char* buffer) {
    const Text& t = shown_.front();
    if (t.length == 0) return 0;
    std::memcpy(buffer, t.chars.data(), static_cast<std::size_t>(t.length));
    return t.length;
}

std::uint32_t CallsignRule::text_count() {
    return shown_.front().count;
}

}  // namespace tarpo::engine
