// Reception reports from the heard log: each finished entry with a plausible callsign becomes a
// spot on the map's collector, batched at the collector's pace and sent by a thread of its own.
// Built from network.txt, the operator's callsign and locator and whether what is heard comes
// from a file (then every report carries the test bit). Nothing here waits for the network:
// heard() and tick() queue, stop() flushes and returns within about two seconds. What it has to
// say (a setting that refuses reporting, a missing dial frequency, the sender's failures) is
// kept as lines for the caller to show, from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/heard_log.h"
#include "engine/network_settings.h"
#include "net/ipfix_report.h"
#include "net/report_sender.h"

namespace tarpo::engine {

// Who reports, and the names the settings go by in what is said about them.
struct SpotIdentity {
    std::string callsign;
    std::string locator;  // 4 or 6 characters; an 8-character one is cut to 6
    std::string callsign_setting = "cs.txt";
    std::string locator_setting = "locator.txt";
};

// Lines said by the reporter and its sender thread, taken by the caller's thread.
class NoteBox {
  public:
    void say(const std::string& line);
    std::vector<std::string> take();

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class SpotReporter {
  public:
    // now_s: Unix seconds on the clock the caller will pass to heard(), tick() and stop().
    SpotReporter(const NetworkSettings& network, const SpotIdentity& identity, bool test,
                 std::int64_t now_s, net::BatchSettings batch = {});
    ~SpotReporter();  // stops as stop() does, at the last time seen
    SpotReporter(const SpotReporter&) = delete;
    SpotReporter& operator=(const SpotReporter&) = delete;

    // False when a setting refused reporting (said once in the notes).
    bool active() const { return batcher_.has_value(); }
    // A finished entry: a spot when its callsign is plausible and a dial frequency is known.
    void heard(const HeardEntry& entry, std::int64_t now_s);
    // Hands the datagrams due at now_s to the sender.
    void tick(std::int64_t now_s);
    // Sends what waits and stops the sender; later calls do nothing.
    void stop(std::int64_t now_s);

    std::vector<std::string> take_notes() { return notes_->take(); }

    struct Counts {
        std::size_t spots = 0;    // taken into a batch
        std::size_t sent = 0;     // datagrams handed to the network
        std::size_t waiting = 0;  // spots not yet in a datagram, and datagrams not yet sent
    };
    Counts counts() const;

  private:
    std::optional<net::Spot> make_spot(const HeardEntry& entry);

    NetworkSettings network_;
    bool test_;
    std::shared_ptr<NoteBox> notes_;  // shared with the sender's thread
    std::optional<net::ReportBatcher> batcher_;
    std::unique_ptr<net::ReportSender> sender_;
    std::size_t spots_ = 0;
    std::int64_t last_s_;
    bool dial_noted_ = false;
    bool stopped_ = false;
};

// The reporter the settings ask for: none when `network.report` is off.
std::unique_ptr<SpotReporter> make_spot_reporter(const NetworkSettings& network,
                                                 const SpotIdentity& identity, bool test,
                                                 std::int64_t now_s);

// network.txt of `directory` (its notes on standard error; defaults when missing), and the
// callsign and locator of its cs.txt and locator.txt (blanks at either end removed).
NetworkSettings network_settings_in(const std::filesystem::path& directory);
SpotIdentity spot_identity_in(const std::filesystem::path& directory);

}  // namespace tarpo::engine
