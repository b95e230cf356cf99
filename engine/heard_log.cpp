#include "engine/heard_log.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>

namespace tarpo::engine {

std::optional<HeardEntry> ReceptionTracker::observe(const Observation& o) {
    if (o.rsid_report) last_rsid_ms_ = o.utc_ms;
    std::optional<HeardEntry> ended;
    if (!receiving_ && o.squelch_open) {
        receiving_ = true;
        entry_ = HeardEntry{};
        entry_.start_ms = o.utc_ms;
        entry_.end_ms = o.utc_ms;
        entry_.rsid_seen = last_rsid_ms_ && o.utc_ms - *last_rsid_ms_ <= rsid_window_ms;
        candidates_.clear();
        snr_sum_ = 0.0;
        snr_ticks_ = 0;
    }
    if (receiving_) {
        if (o.rsid_report) entry_.rsid_seen = true;
        if (o.squelch_open && o.callsign_count != last_count_ && !o.callsign.empty())
            count_callsign(o.callsign, o.utc_ms);
        if (o.squelch_open) {
            entry_.end_ms = o.utc_ms;
            entry_.best_snr_db =
                snr_ticks_ == 0 ? o.snr_db : std::max(entry_.best_snr_db, o.snr_db);
            snr_sum_ += o.snr_db;
            ++snr_ticks_;
            entry_.audio_hz = o.audio_hz;
            if (o.dial_hz) entry_.dial_hz = o.dial_hz;
        } else if (o.utc_ms - entry_.end_ms >= hangover_ms) {
            ended = close();
        }
    }
    last_count_ = o.callsign_count;
    return ended;
}

std::optional<HeardEntry> ReceptionTracker::finish() {
    if (!receiving_) return std::nullopt;
    return close();
}

void ReceptionTracker::count_callsign(const std::string& callsign, std::int64_t utc_ms) {
    auto it = std::find_if(candidates_.begin(), candidates_.end(),
                           [&](const Candidate& c) { return c.callsign == callsign; });
    if (it == candidates_.end() && candidates_.size() < max_candidates)
        it = candidates_.insert(candidates_.end(), Candidate{callsign, 0, 0});
    if (it == candidates_.end()) {  // full: the rarest, oldest text makes room
        it = std::min_element(candidates_.begin(), candidates_.end(), [](auto& a, auto& b) {
            return a.count != b.count ? a.count < b.count : a.last_ms < b.last_ms;
        });
        *it = Candidate{callsign, 0, 0};
    }
    ++it->count;
    it->last_ms = utc_ms;
}

std::optional<HeardEntry> ReceptionTracker::close() {
    receiving_ = false;
    if (candidates_.empty() || entry_.end_ms - entry_.start_ms < min_open_ms) return std::nullopt;
    const auto best =
        std::max_element(candidates_.begin(), candidates_.end(), [](auto& a, auto& b) {
            return a.count != b.count ? a.count < b.count : a.last_ms < b.last_ms;
        });
    entry_.callsign = best->callsign;
    entry_.mean_snr_db = snr_ticks_ > 0 ? snr_sum_ / snr_ticks_ : 0.0;
    return entry_;
}

namespace {

std::tm utc_tm(std::int64_t utc_ms) {
    const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    return t;
}

std::string format_utc(std::int64_t utc_ms, const char* format) {
    const std::tm t = utc_tm(utc_ms);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, format, &t);
    return std::string(text, n);
}

std::string adif_field(const std::string& name, const std::string& value) {
    return "<" + name + ":" + std::to_string(value.size()) + ">" + value + " ";
}

std::string fixed(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

}  // namespace

std::string utc_text(std::int64_t utc_ms) {
    return format_utc(utc_ms, "%Y-%m-%d %H:%M:%S");
}

std::string csv_header() {
    return "start_utc,end_utc,callsign,best_snr_db,mean_snr_db,audio_hz,dial_hz,rsid";
}

std::string csv_line(const HeardEntry& e) {
    return utc_text(e.start_ms) + "," + utc_text(e.end_ms) + "," + e.callsign + "," +
           std::to_string(e.best_snr_db) + "," + fixed(e.mean_snr_db, 1) + "," +
           fixed(e.audio_hz, 1) + "," + (e.dial_hz ? fixed(*e.dial_hz, 0) : std::string()) + "," +
           (e.rsid_seen ? "yes" : "no");
}

std::string adif_header() {
    return "TARPO heard stations\n" + adif_field("ADIF_VER", "3.1.4") +
           adif_field("PROGRAMID", "TARPO") + "\n<EOH>\n";
}

std::string adif_record(const HeardEntry& e) {
    std::string r = adif_field("CALL", e.callsign) +
                    adif_field("QSO_DATE", format_utc(e.start_ms, "%Y%m%d")) +
                    adif_field("TIME_ON", format_utc(e.start_ms, "%H%M%S")) +
                    adif_field("TIME_OFF", format_utc(e.end_ms, "%H%M%S"));
    if (e.dial_hz) r += adif_field("FREQ", fixed(*e.dial_hz / 1e6, 6));
    r += adif_field("MODE", "DIGITALVOICE") +
         adif_field("RST_RCVD", std::to_string(std::lround(e.mean_snr_db))) +
         adif_field("COMMENT", "heard");
    return r + "<EOR>\n";
}

namespace {

bool append_text(const std::filesystem::path& path, const std::string& header,
                 const std::string& text, std::string& error) {
    std::error_code ec;
    const bool fresh =
        !std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0;
    std::ofstream out(path, std::ios::app | std::ios::binary);
    if (out && fresh) out << header;
    if (out) out << text;
    out.flush();
    if (!out) {
        error = path.string() + ": cannot write the log";
        return false;
    }
    return true;
}

}  // namespace

bool append_heard(const std::filesystem::path& directory, const HeardEntry& e, std::string& error) {
    const bool csv =
        append_text(directory / "heard.csv", csv_header() + "\n", csv_line(e) + "\n", error);
    const bool adi = append_text(directory / "heard.adi", adif_header(), adif_record(e), error);
    return csv && adi;
}

std::vector<std::vector<AdifField>> read_adif(const std::string& text) {
    std::vector<std::vector<AdifField>> records;
    std::string upper(text.size(), ' ');
    std::transform(text.begin(), text.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::size_t at = 0;
    if (!text.empty() && text[0] != '<') {
        const std::size_t eoh = upper.find("<EOH>");
        at = eoh == std::string::npos ? text.size() : eoh + 5;
    }
    std::vector<AdifField> record;
    while ((at = text.find('<', at)) != std::string::npos) {
        const std::size_t close = text.find('>', at);
        if (close == std::string::npos) break;
        const std::string tag = upper.substr(at + 1, close - at - 1);
        at = close + 1;
        if (tag == "EOR") {
            records.push_back(std::move(record));
            record.clear();
            continue;
        }
        const std::size_t colon = tag.find(':');
        if (colon == std::string::npos) continue;
        const std::size_t length = std::strtoul(tag.c_str() + colon + 1, nullptr, 10);
        if (length > text.size() - at) break;  // a length that runs past the end: malformed
        record.push_back({tag.substr(0, colon), text.substr(at, length)});
        at += length;
    }
    return records;
}

}  // namespace tarpo::engine
