// The last few distinct confirmed callsigns, for the list beside the callsign field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarpo::engine {

// The last few distinct confirmed callsigns, newest first, each with the time (UTC,
// milliseconds since 1970) it was last confirmed. User-interface side.
class RecentCalls {
  public:
    static constexpr std::size_t capacity = 5;
    struct Entry {
        std::string call;
        std::int64_t utc_ms = 0;
    };
    // A confirmed call: it moves to the front (or comes in there, the oldest leaving).
    void heard(const std::string& call, std::int64_t utc_ms);
    const std::vector<Entry>& entries() const { return entries_; }

  private:
    std::vector<Entry> entries_;
};

}  // namespace tarpo::engine
