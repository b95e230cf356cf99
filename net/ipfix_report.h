// Reception reports for the map of who hears whom: IPFIX messages over UDP to the collector.
// Each message holds the receiver record (who we are, in an options template set whose scope is
// our callsign) and the spot records (whom we heard). The encoder writes one message; the
// batcher decides what goes when, from times it is given (no clock inside), so the same object
// serves the program, the command-line tool and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

namespace tarpo::net {

using Datagram = std::vector<std::uint8_t>;

// Our station, as sent in every message. Strings are cut to what the collector accepts
// (callsign 32 bytes, locator 16, software 80, antenna and rig 128), at a character boundary.
struct ReceiverInfo {
    std::string callsign;
    std::string locator;
    std::string software;  // decoderSoftware, software_name() in the program
    std::string antenna;
    std::string rig;
};

// One station heard.
struct Spot {
    std::string callsign;
    std::string locator;             // "" when unknown
    std::uint64_t frequency_hz = 0;  // RF: dial frequency + audio offset of the signal's centre
    int snr_db = 0;                  // clamped to [-128, 127]
    std::string mode = "DIGITALVOICE";
    std::uint8_t source = 1;   // 1 decoded from the signal, 2 from a log, 3 entered by hand
    bool test = false;         // heard from a file or a recording: marked as a test report
    std::int64_t start_s = 0;  // when the reception began, Unix seconds
};

// "TARPO <version>".
std::string software_name();

// The template IDs of this program's two templates.
inline constexpr std::uint16_t sender_template_id = 0x50e3;
inline constexpr std::uint16_t receiver_template_id = 0x50e2;

// The header values of one message.
struct MessageFrame {
    std::uint32_t export_s = 0;  // Unix seconds
    std::uint32_t sequence = 0;  // data records sent before this message, modulo 2^32
    std::uint32_t domain = 0;    // observation domain, random per run
    bool templates = false;      // carry both templates before the data
};

// One whole message: header, the templates when asked, the receiver data set and, when there
// are spots, the sender data set.
Datagram encode_report(const ReceiverInfo& receiver, std::span<const Spot> spots,
                       const MessageFrame& frame);

// Bytes of one spot record inside a sender data set.
std::size_t spot_record_size(const Spot& s);

// A random observation domain for this run.
std::uint32_t random_domain();

// What the batcher does with reports, and when. Intervals in seconds.
struct BatchSettings {
    std::int64_t interval_s = 300;          // at most one batch this often
    std::int64_t duplicate_s = 300;         // a callsign on one band is reported once per this
    std::int64_t template_repeat_s = 3600;  // the templates go again this often
    std::size_t max_bytes = 1400;           // every datagram stays below this
    std::size_t max_waiting = 1000;         // spots kept for the next batch, oldest dropped beyond
};

// Collects spots and turns them into datagrams: the first batch `interval_s` after start, later
// ones at most once per `interval_s`, and whatever waits at flush(). A batch larger than
// `max_bytes` goes as several datagrams, each with the receiver record. The templates go in the
// first three datagrams, and in the next three each time `template_repeat_s` has passed.
// A callsign reported on the same band within `duplicate_s` is not taken again; nor is a
// callsign that is not plausible. Times must not go backward.
class ReportBatcher {
  public:
    enum class Taken { queued, duplicate, implausible };

    ReportBatcher(ReceiverInfo receiver, std::uint32_t domain, std::int64_t start_s,
                  BatchSettings settings = {});

    Taken add(Spot spot, std::int64_t now_s);
    // The datagrams due at `now_s` (none before the interval has passed or with nothing waiting).
    std::vector<Datagram> poll(std::int64_t now_s);
    // Everything waiting, now (program exit).
    std::vector<Datagram> flush(std::int64_t now_s);

    std::size_t waiting() const { return waiting_.size(); }
    std::size_t dropped() const { return dropped_; }

  private:
    struct Reported {
        std::string callsign;
        std::string band;
        std::int64_t at_s;
    };

    std::vector<Datagram> send_all(std::int64_t now_s);
    Datagram next_datagram(std::int64_t now_s);

    ReceiverInfo receiver_;
    BatchSettings settings_;
    std::uint32_t domain_;
    std::uint32_t sequence_ = 0;
    std::int64_t last_send_s_;
    std::int64_t templates_from_s_;  // when the last round of templates began
    int templates_left_ = 3;
    std::deque<Spot> waiting_;
    std::deque<Reported> reported_;  // within the duplicate window, oldest first
    std::size_t dropped_ = 0;
};

}  // namespace tarpo::net
