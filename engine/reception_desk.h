// The desk where receptions are written down: the tracker that turns what the receiver shows
// into entries, the recording of each reception's speech (started with the reception, kept
// under the callsign when it becomes an entry, dropped when it does not) and the heard log.
// Plain C++ without a clock of its own: the program's display tick and the command-line
// station feed it an observation and the speech decoded since the last one. It does file I/O,
// so it runs beside the audio worker, never on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/heard_log.h"
#include "engine/recorder.h"

namespace tarpo::engine {

// What one step ended with: the entry of a reception that finished (already in the heard log,
// or waiting there when the log could not be written), and one line per problem met.
struct DeskStep {
    std::optional<HeardEntry> entry;
    std::vector<std::string> errors;
};

class ReceptionDesk {
  public:
    // directory: where heard.csv and heard.adi go; recordings go to its "recordings" folder.
    explicit ReceptionDesk(std::filesystem::path directory);

    // Switches recording on or off; off drops a recording in progress.
    void set_recording(bool on);
    bool recording_on() const { return record_; }

    // One observation and the speech (8 kHz) decoded since the previous one.
    DeskStep step(const Observation& o, const std::int16_t* speech, std::size_t n);
    // Ends a running reception (shutdown): its entry when it qualifies; a recording left open
    // is kept with it or dropped.
    DeskStep finish();

    bool receiving() const { return tracker_.receiving(); }
    bool recording() const { return recorder_.recording(); }
    std::size_t entries() const { return entries_; }
    std::size_t log_pending() const { return log_.pending(); }

  private:
    void log(const HeardEntry& entry, DeskStep& out);
    void keep_recording(const HeardEntry& entry, DeskStep& out);

    std::filesystem::path directory_;
    ReceptionTracker tracker_;
    HeardLog log_;
    Recorder recorder_;
    bool record_ = false;
    std::size_t entries_ = 0;
};

}  // namespace tarpo::engine
