#include "engine/contact_log.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "net/callsign_check.h"

namespace tarpo::engine {

namespace {

// Milliseconds since 1970 of "YYYY-MM-DD HH:MM:SS" in UTC (utc_text's form).
std::optional<std::int64_t> utc_ms_of(const std::string& text) {
    std::tm t{};
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &end) != 6)
        return std::nullopt;
    if (t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 ||
        t.tm_min > 59 || t.tm_sec > 60)
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<std::int64_t>(::timegm(&t)) * 1000;
}

template <typename T>
std::optional<T> number_of(const std::string& text) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return v;
}

}  // namespace

std::string default_report(double snr_db) {
    const double units = std::isfinite(snr_db) ? std::floor(snr_db / 3.0) : 0.0;
    const int s = 1 + static_cast<int>(std::clamp(units, 0.0, 8.0));
    return "5" + std::to_string(s);
}

std::optional<std::uint64_t> rf_frequency(const HeardEntry& e,
                                          std::optional<std::uint64_t> dial_setting) {
    std::optional<double> dial = e.dial_hz;
    if (!dial && dial_setting) dial = static_cast<double>(*dial_setting);
    if (!dial || !std::isfinite(*dial + e.audio_hz) || *dial + e.audio_hz <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(std::llround(*dial + e.audio_hz));
}

net::Contact make_contact(const HeardEntry& e, const ContactAnswers& answers, const OwnStation& own,
                          std::optional<std::uint64_t> dial_setting) {
    net::Contact c;
    c.call = net::adif_clean(e.callsign, net::adif_call_chars, true);
    c.start_ms = e.start_ms;
    c.end_ms = std::max(e.start_ms, e.end_ms);
    c.frequency_hz = rf_frequency(e, dial_setting);
    c.rst_sent = net::adif_clean(answers.rst_sent, net::adif_rst_chars, true);
    c.rst_received = net::adif_clean(answers.rst_received, net::adif_rst_chars, true);
    c.station_callsign = net::plausible_callsign(own.callsign).value_or(std::string());
    if (net::valid_locator(own.locator)) c.my_gridsquare = net::normal_locator(own.locator);
    c.comment = net::adif_clean(answers.comment, net::adif_comment_chars, false);
    c.name = net::adif_clean(answers.name, net::adif_name_chars, false);
    return c;
}

std::optional<HeardEntry> heard_entry_from_csv(const std::vector<std::string>& cells) {
    if (cells.size() < 8) return std::nullopt;
    HeardEntry e;
    const auto start = utc_ms_of(cells[0]);
    const auto end = utc_ms_of(cells[1]);
    const auto best = number_of<int>(cells[3]);
    const auto mean = number_of<double>(cells[4]);
    const auto audio = number_of<double>(cells[5]);
    if (!start || !end || !best || !mean || !audio) return std::nullopt;
    e.start_ms = *start;
    e.end_ms = *end;
    e.callsign = cells[2];
    e.best_snr_db = *best;
    e.mean_snr_db = *mean;
    e.audio_hz = *audio;
    if (!cells[6].empty()) {
        e.dial_hz = number_of<double>(cells[6]);
        if (!e.dial_hz) return std::nullopt;
    }
    e.rsid_seen = cells[7] == "yes";
    return e;
}

bool ContactLog::append(const net::Contact& c, std::string& error) {
    waiting_.push_back(net::adif_contact_record(c));
    if (waiting_.size() > max_pending)
        waiting_.erase(waiting_.begin(), waiting_.end() - static_cast<std::ptrdiff_t>(max_pending));
    std::string why;
    if (append_log_texts(path(), net::adif_contact_header(), waiting_, why)) return true;
    error = path().string() + " " + why + "; " + std::to_string(waiting_.size()) +
            (waiting_.size() == 1 ? " contact" : " contacts") + " kept until it can be written";
    return false;
}

}  // namespace tarpo::engine
