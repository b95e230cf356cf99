#include "engine/reception_desk.h"

#include <utility>

namespace tarpo::engine {

ReceptionDesk::ReceptionDesk(std::filesystem::path directory)
    : directory_(std::move(directory)), log_(directory_) {}

void ReceptionDesk::set_recording(bool on) {
    record_ = on;
    if (!on) recorder_.drop();
}

DeskStep ReceptionDesk::step(const Observation& o, const std::int16_t* speech, std::size_t n) {
    DeskStep out;
    const bool was_receiving = tracker_.receiving();
    out.entry = tracker_.observe(o);
    std::string error;
    if (record_ && tracker_.receiving() && !recorder_.recording() &&
        !recorder_.start(directory_ / "recordings", tracker_.start_ms(), error) && !error.empty())
        out.errors.push_back(error);
    recorder_.write(speech, n);
    if (out.entry) {
        log(*out.entry, out);
        keep_recording(*out.entry, out);
    } else if (was_receiving && !tracker_.receiving()) {
        recorder_.drop();
    }
    return out;
}

DeskStep ReceptionDesk::finish() {
    DeskStep out;
    out.entry = tracker_.finish();
    if (out.entry) {
        log(*out.entry, out);
        keep_recording(*out.entry, out);
    }
    recorder_.drop();
    return out;
}

void ReceptionDesk::log(const HeardEntry& entry, DeskStep& out) {
    ++entries_;
    std::string error;
    if (!log_.append(entry, error)) out.errors.push_back(error);
}

void ReceptionDesk::keep_recording(const HeardEntry& entry, DeskStep& out) {
    if (!recorder_.recording()) return;
    std::string error;
    recorder_.keep(entry.callsign, error);
    if (!error.empty()) out.errors.push_back(error);
}

}  // namespace tarpo::engine
