// Reads the logger messages' Qt data stream fields the way a listener does, and an ADIF record's
// fields by name, for the tests.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/adif_contact.h"
#include "net/wsjtx_messages.h"

namespace tarpo::net {

// Reads the Qt data stream fields the way a listener does.
class StreamReader {
  public:
    explicit StreamReader(const LoggerMessage& m) : m_(m) {}
    std::uint64_t number(std::size_t n) {
        if (at_ + n > m_.size()) throw std::runtime_error("runs past the end");
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v = v << 8 | m_[at_++];
        return v;
    }
    std::string utf8() {
        const std::uint64_t n = number(4);
        if (n == 0xffffffff) return {};
        if (at_ + n > m_.size()) throw std::runtime_error("string runs past the end");
        std::string s(m_.begin() + static_cast<long>(at_), m_.begin() + static_cast<long>(at_ + n));
        at_ += n;
        return s;
    }
    // Milliseconds since 1970 of a UTC date and time.
    std::int64_t date_time() {
        const auto day = static_cast<std::int64_t>(number(8));
        const auto ms = static_cast<std::int64_t>(number(4));
        if (number(1) != 1) throw std::runtime_error("not UTC");
        return (day - 2440588) * 86'400'000 + ms;
    }
    bool done() const { return at_ == m_.size(); }

  private:
    const LoggerMessage& m_;
    std::size_t at_ = 0;
};

// The value of the record's field `name`; "(absent)" when the record has none.
inline std::string value_of(const std::vector<AdifValue>& record, const std::string& name) {
    for (const auto& f : record)
        if (f.name == name) return f.value;
    return "(absent)";
}

}  // namespace tarpo::net
