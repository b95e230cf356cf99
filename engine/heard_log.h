// The log of stations heard: the rules that turn what the receiver shows (squelch, SNR,
// decoded callsign) into one entry per reception, and the two files the entries go to,
// heard.csv (appended, one line per entry) and heard.adi (ADIF 3, appended, one record per
// entry). Plain C++: the user interface feeds it once per display tick.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarpo::engine {

// One reception.
struct HeardEntry {
    std::int64_t start_ms = 0;  // UTC, milliseconds since 1970
    std::int64_t end_ms = 0;    // UTC, the last moment the squelch was open
    std::string callsign;       // the callsign decoded most often during the reception
    int best_snr_db = 0;
    double mean_snr_db = 0.0;       // over the ticks with the squelch open
    double audio_hz = 0.0;          // tuned centre frequency at the end
    std::optional<double> dial_hz;  // the rig's dial frequency, when a radio reports it
    bool rsid_seen = false;         // an RSID burst announced this reception
};

// What the receiver shows at one moment.
struct Observation {
    std::int64_t utc_ms = 0;
    bool squelch_open = false;
    int snr_db = 0;
    std::uint32_t callsign_count = 0;  // complete callsigns received so far (engine counter)
    std::string callsign;              // the last complete callsign, "" before the first
    double audio_hz = 0.0;
    std::optional<double> dial_hz;
    bool rsid_report = false;  // an RSID burst was recognised since the last observation
};

// Entry rules: a reception begins at the first observation with the squelch open and ends once
// the squelch has stayed closed for `hangover_ms` (short closures in a fade do not split it);
// it becomes an entry when it lasted at least `min_open_ms` (first to last open observation)
// and a callsign was completed during it with the squelch open. The engine hands over only
// confirmed callsigns (engine/callsign_rule.h), which keeps out what the decoder makes of noise
// and the tail of a callsign when reception starts mid-cycle; should a fade still let a garbled
// text through, the entry takes the text completed most often while the squelch was open, the
// latest of equals. An RSID burst counts for the reception that starts within `rsid_window_ms`
// after it, or for the one running.
class ReceptionTracker {
  public:
    static constexpr std::int64_t min_open_ms = 2000;
    static constexpr std::int64_t hangover_ms = 1000;
    static constexpr std::int64_t rsid_window_ms = 5000;

    // Feeds one observation (times must not go backward). Returns the entry of a reception
    // that ended with it.
    std::optional<HeardEntry> observe(const Observation& o);
    // Ends a running reception (program shutdown); its entry when it qualifies.
    std::optional<HeardEntry> finish();

    bool receiving() const { return receiving_; }
    // Start of the running reception (valid while receiving()).
    std::int64_t start_ms() const { return entry_.start_ms; }

  private:
    struct Candidate {
        std::string callsign;
        int count = 0;
        std::int64_t last_ms = 0;
    };
    static constexpr std::size_t max_candidates = 8;

    std::optional<HeardEntry> close();
    void count_callsign(const std::string& callsign, std::int64_t utc_ms);

    bool receiving_ = false;
    HeardEntry entry_;
    std::uint32_t last_count_ = 0;
    std::vector<Candidate> candidates_;  // texts completed in this reception, at most 8
    double snr_sum_ = 0.0;
    int snr_ticks_ = 0;
    std::optional<std::int64_t> last_rsid_ms_;
};

// "YYYY-MM-DD HH:MM:SS" in UTC.
std::string utc_text(std::int64_t utc_ms);

// The callsign an entry keeps of a decoded text: blanks at either end removed, control
// characters as '?'; a text of nothing but '/', '-' and blanks is no callsign: "" (unknown,
// an empty CALL in the log and NOCALL in a recording's name).
std::string stored_callsign(const std::string& text);

// The CSV line of an entry (no line end) and the header line of heard.csv. A field holding a
// comma, a quote, a line end or blanks at an end is quoted ("..."), its quotes doubled, so any
// callsign reads back whole.
std::string csv_header();
std::string csv_line(const HeardEntry& e);
// The records of CSV text (quoted fields may span lines; a line end is LF or CR LF).
std::vector<std::vector<std::string>> read_csv(const std::string& text);
// The ADIF 3 record of an entry (fields CALL, QSO_DATE, TIME_ON, TIME_OFF, FREQ in MHz when
// the dial frequency is known, MODE, RST_RCVD as the mean SNR in dB, COMMENT, and SWL Y: a
// listener's report, which loggers do not take for a contact), ending in <EOR>
// and a line end; and the file header ending in <EOH>.
std::string adif_header();
std::string adif_record(const HeardEntry& e);

// Appends an entry to heard.csv and heard.adi in `directory`, writing each file's header when
// it is new. False with a one-line reason when a file cannot be written. Only a regular file
// (or a link to one) is appended to, or a new one made: a FIFO or a device of that name is
// refused at once, never waited on.
bool append_heard(const std::filesystem::path& directory, const HeardEntry& e, std::string& error);

// Appends `texts` in order to the log at `path`, `header` first when the file is new, on the
// rules above (a regular file or a new one, nothing that could wait). Those written leave
// `texts`; false with the reason in `why` when not all went.
bool append_log_texts(const std::filesystem::path& path, const std::string& header,
                      std::vector<std::string>& texts, std::string& why);

// The log as the program keeps it: an entry that cannot be written now (the file refused, the
// disk full) is kept in memory and written before the next one, when that can be; at most
// `max_pending` entries wait, the oldest dropped beyond that.
class HeardLog {
  public:
    static constexpr std::size_t max_pending = 1000;

    explicit HeardLog(std::filesystem::path directory) : directory_(std::move(directory)) {}
    // Writes what is waiting and `e`. False with one line for the whole attempt when a file
    // could not be written (what did not go stays waiting).
    bool append(const HeardEntry& e, std::string& error);
    std::size_t pending() const { return std::max(csv_.size(), adi_.size()); }

  private:
    std::filesystem::path directory_;
    std::vector<std::string> csv_;  // lines not yet in heard.csv
    std::vector<std::string> adi_;  // records not yet in heard.adi
};

// Reads back the records of an ADIF file: one name -> value list per record, names in capitals.
// Text before <EOH> (when there is one) is the header and skipped. For tests and tools.
struct AdifField {
    std::string name;
    std::string value;
};
std::vector<std::vector<AdifField>> read_adif(const std::string& text);

}  // namespace tarpo::engine
