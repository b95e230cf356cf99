#include "engine/spot_reporter.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/settings_files.h"
#include "external/settings_text.h"
#include "net/callsign_check.h"

namespace tarpo::engine {

namespace {

constexpr const char* no_dial_note =
    "reception reports need the dial frequency: connect the rig (Settings > Radio) or enter it "
    "(Settings > Network)";

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// An 8-character locator names a square inside the 6-character one the collector takes.
std::string reported_locator(const std::string& locator) {
    if (locator.size() == 8 && net::valid_locator(locator.substr(0, 6)))
        return locator.substr(0, 6);
    return locator;
}

// The first line that refuses reporting, "" when the identity is acceptable.
std::string identity_problem(const SpotIdentity& id) {
    std::string problem = net::callsign_problem(id.callsign_setting, id.callsign);
    if (problem.empty())
        problem = net::locator_problem(id.locator_setting, reported_locator(id.locator), false);
    return problem;
}

}  // namespace

void NoteBox::say(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (lines_.size() < 100) lines_.push_back(line);
}

std::vector<std::string> NoteBox::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
}

SpotReporter::SpotReporter(const NetworkSettings& network, const SpotIdentity& identity, bool test,
                           std::int64_t now_s, net::BatchSettings batch)
    : network_(network), test_(test), notes_(std::make_shared<NoteBox>()), last_s_(now_s) {
    const std::string problem = identity_problem(identity);
    if (!problem.empty()) {
        notes_->say(problem + "; no reception reports");
        return;
    }
    const std::string locator = reported_locator(identity.locator);
    net::ReceiverInfo receiver{*net::plausible_callsign(identity.callsign),
                               net::normal_locator(locator), net::software_name(), network.antenna,
                               ""};
    batcher_.emplace(std::move(receiver), net::random_domain(), now_s, batch);
    net::SenderSettings sending;
    sending.host = network.report_to.host;
    sending.port = network.report_to.port;
    std::shared_ptr<NoteBox> notes = notes_;
    sender_ = std::make_unique<net::ReportSender>(
        sending, [notes](const std::string& line) { notes->say(line); });
}

SpotReporter::~SpotReporter() {
    stop(last_s_);
}

std::optional<net::Spot> SpotReporter::make_spot(const HeardEntry& entry) {
    const std::optional<std::string> call = net::plausible_callsign(entry.callsign);
    if (!call) return std::nullopt;
    std::optional<double> dial = entry.dial_hz;
    if (!dial && network_.dial_hz) dial = static_cast<double>(*network_.dial_hz);
    if (!dial) {
        if (!dial_noted_) notes_->say(no_dial_note);
        dial_noted_ = true;
        return std::nullopt;
    }
    net::Spot spot;
    spot.callsign = *call;
    spot.frequency_hz = static_cast<std::uint64_t>(std::llround(*dial + entry.audio_hz));
    spot.snr_db = static_cast<int>(std::lround(entry.mean_snr_db));
    spot.source = 1;
    spot.test = test_;
    spot.start_s = entry.start_ms / 1000;
    return spot;
}

void SpotReporter::heard(const HeardEntry& entry, std::int64_t now_s) {
    if (!batcher_ || stopped_) return;
    last_s_ = std::max(last_s_, now_s);
    if (std::optional<net::Spot> spot = make_spot(entry))
        if (batcher_->add(std::move(*spot), last_s_) == net::ReportBatcher::Taken::queued) ++spots_;
}

void SpotReporter::tick(std::int64_t now_s) {
    if (!batcher_ || stopped_) return;
    last_s_ = std::max(last_s_, now_s);
    for (net::Datagram& d : batcher_->poll(last_s_)) sender_->send(std::move(d));
}

void SpotReporter::stop(std::int64_t now_s) {
    if (!batcher_ || stopped_) return;
    stopped_ = true;
    last_s_ = std::max(last_s_, now_s);
    for (net::Datagram& d : batcher_->flush(last_s_)) sender_->send(std::move(d));
    sender_->stop();
}

SpotReporter::Counts SpotReporter::counts() const {
    Counts c;
    if (!batcher_) return c;
    const net::ReportSender::Counts sent = sender_->counts();
    c.spots = spots_;
    c.sent = sent.sent;
    c.waiting = batcher_->waiting() + sent.waiting;
    return c;
}

std::unique_ptr<SpotReporter> make_spot_reporter(const NetworkSettings& network,
                                                 const SpotIdentity& identity, bool test,
                                                 std::int64_t now_s) {
    if (!network.report) return nullptr;
    return std::make_unique<SpotReporter>(network, identity, test, now_s);
}

NetworkSettings network_settings_in(const std::filesystem::path& directory) {
    const std::filesystem::path file = directory / network_file_name;
    const std::optional<std::string> text = load_settings_text(file.c_str());
    if (!text) return {};
    std::vector<std::string> notes;
    NetworkSettings s = read_network_settings(*text, &notes);
    say_settings_notes(network_file_name, notes);
    return s;
}

SpotIdentity spot_identity_in(const std::filesystem::path& directory) {
    SpotIdentity id;
    CallsignText call = make_callsign_text("");
    load_callsign(directory / callsign_file_name, call);
    id.callsign = trimmed(callsign_string(call));
    const std::filesystem::path locator = directory / "locator.txt";
    if (const std::optional<std::string> text = read_settings_text(locator.c_str(), 256))
        id.locator = trimmed(text->substr(0, text->find('\n')));
    return id;
}

}  // namespace tarpo::engine
