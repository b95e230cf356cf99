#include "engine/callsign_recent.h"

namespace tarpo::engine {

void RecentCalls::heard(const std::string& call, std::int64_t utc_ms) {
    std::erase_if(entries_, [&](const Entry& e) { return e.call == call; });
    entries_.insert(entries_.begin(), Entry{call, utc_ms});
    if (entries_.size() > capacity) entries_.resize(capacity);
}

}  // namespace tarpo::engine
