#include "engine/heard_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <tuple>

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

void ReceptionTracker::count_callsign(const std::string& text, std::int64_t utc_ms) {
    const std::string callsign = stored_callsign(text);
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

std::string stored_callsign(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::string call = text.substr(first, text.find_last_not_of(' ') - first + 1);
    for (char& c : call)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    if (call.find_first_not_of("/- ") == std::string::npos) return {};
    return call;
}

std::string utc_text(std::int64_t utc_ms) {
    return format_utc(utc_ms, "%Y-%m-%d %H:%M:%S");
}

std::string csv_header() {
    return "start_utc,end_utc,callsign,best_snr_db,mean_snr_db,audio_hz,dial_hz,rsid";
}

namespace {

std::string csv_field(const std::string& text) {
    const bool plain = text.find_first_of(",\"\r\n") == std::string::npos &&
                       (text.empty() || (text.front() != ' ' && text.back() != ' '));
    if (plain) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::vector<std::vector<std::string>> read_csv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool any = false;  // the record has begun
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else
                quoted = false;
            continue;
        }
        any = true;
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') ++i;
            record.push_back(std::move(field));
            records.push_back(std::move(record));
            field.clear();
            record.clear();
            any = false;
        } else {
            field += c;
        }
    }
    if (any || quoted || !field.empty()) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
    }
    return records;
}

std::string csv_line(const HeardEntry& e) {
    return utc_text(e.start_ms) + "," + utc_text(e.end_ms) + "," + csv_field(e.callsign) + "," +
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
         adif_field("COMMENT", "heard") +
         // A listener's report, not a contact: a logger that imports the file keeps it apart.
         adif_field("SWL", "Y");
    return r + "<EOR>\n";
}

namespace {

// Opens a log for appending, only when it is a regular file (after links) or is not there yet
// (then made): a FIFO, which could hold the open or the write, and a device are refused at
// once. O_NONBLOCK makes even a FIFO swapped in after the look fail the open instead of
// waiting for a reader; what was opened is looked at again. -1 with the reason in `why`.
int open_log(const std::filesystem::path& path, bool& fresh, std::string& why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        why = "is not a regular file";
        return -1;
    }
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = "is not a regular file";
        return -1;
    }
    fresh = st.st_size == 0;
    return fd;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool append_log_texts(const std::filesystem::path& path, const std::string& header,
                      std::vector<std::string>& texts, std::string& why) {
    bool fresh = false;
    const int fd = open_log(path, fresh, why);
    if (fd < 0) return false;
    bool ok = !fresh || write_all(fd, header);
    std::size_t written = 0;
    while (ok && written < texts.size() && (ok = write_all(fd, texts[written]))) ++written;
    texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(written));
    if (::close(fd) != 0) ok = false;
    if (!ok && why.empty()) why = "cannot write it";
    return ok;
}

namespace {

void keep_at_most(std::vector<std::string>& texts, std::size_t most) {
    if (texts.size() > most)
        texts.erase(texts.begin(), texts.end() - static_cast<std::ptrdiff_t>(most));
}

}  // namespace

bool HeardLog::append(const HeardEntry& e, std::string& error) {
    csv_.push_back(csv_line(e) + "\n");
    adi_.push_back(adif_record(e));
    keep_at_most(csv_, max_pending);
    keep_at_most(adi_, max_pending);
    std::string problems;
    for (auto [name, header, texts] : {std::tuple{"heard.csv", csv_header() + "\n", &csv_},
                                       std::tuple{"heard.adi", adif_header(), &adi_}}) {
        std::string why;
        if (!append_log_texts(directory_ / name, header, *texts, why))
            problems += (problems.empty() ? "" : "; ") + (directory_ / name).string() + " " + why;
    }
    if (problems.empty()) return true;
    error = problems + "; " + std::to_string(pending()) + (pending() == 1 ? " entry" : " entries") +
            " kept until it can be written";
    return false;
}

bool append_heard(const std::filesystem::path& directory, const HeardEntry& e, std::string& error) {
    HeardLog log(directory);
    return log.append(e, error);
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
