#include "engine/tx_switch.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <utility>

#include "engine/display_mode.h"

namespace tarpo::engine {

namespace {

bool parse_int(const std::string& word, int low, int high, int& value) {
    if (word.empty() || word.size() > 6) return false;
    std::size_t i = word[0] == '-' ? 1 : 0;
    if (i == word.size()) return false;
    for (std::size_t k = i; k < word.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(word[k]))) return false;
    const int v = std::stoi(word);
    if (v < low || v > high) return false;
    value = v;
    return true;
}

}  // namespace

TransmitSettings read_transmit_settings(const std::string& text, std::vector<std::string>* notes) {
    TransmitSettings s;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto note = [&](const std::string& what) {
        if (notes) notes->push_back("line " + std::to_string(number) + ": " + what);
    };
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string key, value, extra;
        if (!(words >> key)) continue;
        words >> value >> extra;
        if (key == "timeout") {
            if (value == "off")
                s.timeout_s = 0;
            else if (!extra.empty() || !parse_int(value, 1, 86400, s.timeout_s))
                note("timeout '" + value.substr(0, 20) + "' is neither off nor 1..86400 s; using " +
                     std::to_string(s.timeout_s));
        } else if (key == "drive") {
            if (!extra.empty() || !parse_int(value, -30, 0, s.drive_db))
                note("drive '" + value.substr(0, 20) + "' is not -30..0 dB; using " +
                     std::to_string(s.drive_db));
        } else {
            note("unknown setting '" + key.substr(0, 20) + "'");
        }
    }
    return s;
}

std::string format_transmit_settings(const TransmitSettings& s) {
    return "timeout " + (s.timeout_s > 0 ? std::to_string(s.timeout_s) : std::string("off")) +
           "\ndrive " + std::to_string(s.drive_db) + "\n";
}

TxSwitch::TxSwitch(EngineApi& engine, std::function<std::string()> callsign)
    : engine_(engine), callsign_(std::move(callsign)) {
    set_timeout_s(TransmitSettings{}.timeout_s);
}

bool TxSwitch::callsign_set() const {
    std::string call = callsign_ ? callsign_() : std::string();
    while (!call.empty() && std::isspace(static_cast<unsigned char>(call.back()))) call.pop_back();
    while (!call.empty() && std::isspace(static_cast<unsigned char>(call.front())))
        call.erase(call.begin());
    for (char& c : call) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return !call.empty() && call != "NOCALL";
}

bool TxSwitch::transmitting() const {
    const Controls& c = engine_.controls();
    return c.tx_active && !c.tune && countdown_ < 0;
}

bool TxSwitch::tuning() const {
    const Controls& c = engine_.controls();
    return c.tx_active && c.tune && countdown_ < 0;
}

void TxSwitch::say(std::string text) {
    message_ = std::move(text);
}

std::string TxSwitch::take_message() {
    return std::exchange(message_, std::string());
}

std::string TxSwitch::take_keyer_failure() {
    return std::exchange(keyer_failure_, std::string());
}

void TxSwitch::key(bool tune) {
    Controls& c = engine_.controls();
    c.tune = tune ? 1 : 0;
    c.rx_active = 0;
    c.tx_active = 1;
    saved_display_mode_ = c.display_mode;
    c.display_mode = engine::display_scope;
    keyed_ticks_ = 0;
}

void TxSwitch::begin_end() {
    countdown_ = tail_ticks;
}

void TxSwitch::end_transmission() {
    Controls& c = engine_.controls();
    engine_.cancel_acquisition();  // a click while transmitting is dropped
    c.tx_active = 0;
    c.rx_active = 1;
    c.tune = 0;
    c.display_mode = saved_display_mode_;
}

void TxSwitch::press() {
    engine_.keyer_stop();
    const Controls& c = engine_.controls();
    if (countdown_ >= 0) return;  // an end of transmission is pending: refused
    if (c.rx_active) {
        if (!callsign_set()) {
            say("Set your callsign first: Settings > Callsign");
            return;
        }
        key(false);
    } else {
        begin_end();
    }
}

void TxSwitch::escape() {
    if (engine_.controls().tx_active && countdown_ < 0) press();
}

void TxSwitch::tune() {
    const Controls& c = engine_.controls();
    if (countdown_ >= 0) return;
    if (c.rx_active) {
        if (engine_.keyer_busy()) return;
        key(true);
    } else if (c.tx_active && c.tune) {
        begin_end();
    }
}

bool TxSwitch::start_file(const std::string& path, std::string& error) {
    if (!callsign_set()) {
        error = "Set your callsign first: Settings > Callsign";
        return false;
    }
    if (!engine_.controls().rx_active || countdown_ >= 0) {
        error = "A transmission is under way or ending; try again when receiving.";
        return false;
    }
    if (!engine_.keyer_start(path, error)) return false;
    keyer_step();  // keys at once
    return true;
}

void TxSwitch::keyer_step() {
    const Controls& c = engine_.controls();
    const bool ending = countdown_ >= 0;
    const int action = engine_.keyer_tick(c.tx_active || ending);
    // A file that fails in the middle: what was queued goes out, then unkey.
    if (std::string failure = engine_.keyer_error(); !failure.empty())
        keyer_failure_ = std::move(failure);
    switch (action) {
        case 1:  // key
            if (ending)
                engine_.keyer_stop();  // refused, as a TX press would be
            else if (c.rx_active)
                key(false);
            break;
        case 2:  // the file has gone out: unkey, as TX pressed again
            if (c.tx_active && !ending) begin_end();
            break;
        default:
            break;
    }
}

void TxSwitch::step() {
    Controls& c = engine_.controls();
    if (countdown_ >= 0) {
        --countdown_;
        if (countdown_ == 0 && c.tx_active) end_transmission();
    }
    keyer_step();
    if (!c.tx_active || countdown_ >= 0) return;
    ++keyed_ticks_;
    if (c.tune && keyed_ticks_ >= tune_limit_ticks) {
        begin_end();
    } else if (timeout_ticks_ > 0 && keyed_ticks_ >= timeout_ticks_) {
        // The time-out ends a file being sent as well, through the same tail as TX pressed.
        engine_.keyer_stop();
        begin_end();
        const int seconds = timeout_s_;
        say("Transmit time-out: keyed for " + std::to_string(seconds) +
            " s, back to receive (transmit.txt sets the limit)");
        std::fprintf(stderr, "tarpo: transmit time-out after %d s: back to receive\n", seconds);
        std::fflush(stderr);
    }
}

}  // namespace tarpo::engine
