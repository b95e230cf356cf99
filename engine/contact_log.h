// Contacts the operator logs from the heard stations: a heard entry and the operator's answers
// (reports, name, comment) make a net::Contact, which is appended to contacts.adi (ADIF 3) the
// way the heard log appends (regular files only; a write that fails is said in one line and the
// record kept for the next) and handed to the logger link.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/heard_log.h"
#include "net/adif_contact.h"

namespace tarpo::engine {

inline constexpr const char* contact_file_name = "contacts.adi";

// What the operator says of a contact in the dialog.
struct ContactAnswers {
    std::string rst_sent;
    std::string rst_received;
    std::string name;     // optional
    std::string comment;  // optional
};

// The station that logs: cs.txt and locator.txt. A callsign that is not plausible ("NOCALL")
// and a locator that is not valid are left out of the record.
struct OwnStation {
    std::string callsign;
    std::string locator;
};

// The voice report a signal of `snr_db` earns by default: readability 5 (speech that decodes
// at all is readable), strength one S unit per 3 dB from S1 at 0 dB and below to S9 at 24 dB
// and above: "51" .. "59". Never falls as the SNR rises.
std::string default_report(double snr_db);

// The RF frequency of an entry in Hz: the dial (the rig's, else `dial_setting` from
// network.txt) plus the audio centre, as upper sideband puts it; nothing when neither dial is
// known.
std::optional<std::uint64_t> rf_frequency(const HeardEntry& e,
                                          std::optional<std::uint64_t> dial_setting);

// The contact of a heard entry: its call, start and end, the RF frequency as above, the
// answers and the own station, every text cleaned as the ADIF record keeps it (so the record
// and the logger messages say the same).
net::Contact make_contact(const HeardEntry& e, const ContactAnswers& answers, const OwnStation& own,
                          std::optional<std::uint64_t> dial_setting);

// An entry back from the cells of a heard.csv line (csv_line's columns); nothing when the
// times or numbers do not read.
std::optional<HeardEntry> heard_entry_from_csv(const std::vector<std::string>& cells);

// contacts.adi in `directory`, written with its header when new. A record that cannot be
// written now waits in memory (at most max_pending, the oldest dropped) and goes before the
// next one.
class ContactLog {
  public:
    static constexpr std::size_t max_pending = 100;

    explicit ContactLog(std::filesystem::path directory) : directory_(std::move(directory)) {}
    // Writes what waits and `c`. False with one line when the file could not be written.
    bool append(const net::Contact& c, std::string& error);
    std::size_t pending() const { return waiting_.size(); }
    std::filesystem::path path() const { return directory_ / contact_file_name; }

  private:
    std::filesystem::path directory_;
    std::vector<std::string> waiting_;  // records not yet in the file
};

}  // namespace tarpo::engine
