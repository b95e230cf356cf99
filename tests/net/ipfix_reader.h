// A small generic IPFIX reader for the tests, written from the message layout alone: header,
// template and options template sets, data sets decoded by the templates seen so far in this
// session. Any fault in the layout throws, so a test sees it as a failure with the reason.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarpo::net::test {

struct FieldSpec {
    std::uint16_t id = 0;  // without the enterprise bit
    std::uint16_t length = 0;
    std::uint32_t enterprise = 0;  // 0: a standard element
};

struct TemplateSpec {
    std::uint16_t id = 0;
    std::uint16_t scope_count = 0;  // 0 for a plain template
    std::vector<FieldSpec> fields;
};

// A data record: the value bytes by (enterprise, element id).
struct DataRecord {
    std::uint16_t template_id = 0;
    std::map<std::pair<std::uint32_t, std::uint16_t>, std::vector<std::uint8_t>> values;

    std::string text(std::uint16_t id, std::uint32_t enterprise = 30351) const {
        const auto& v = values.at({enterprise, id});
        return std::string(v.begin(), v.end());
    }
    std::uint64_t number(std::uint16_t id, std::uint32_t enterprise = 30351) const {
        std::uint64_t n = 0;
        for (const std::uint8_t b : values.at({enterprise, id})) n = n << 8 | b;
        return n;
    }
};

struct IpfixMessage {
    std::uint16_t version = 0;
    std::uint32_t export_s = 0;
    std::uint32_t sequence = 0;
    std::uint32_t domain = 0;
    std::vector<TemplateSpec> templates;  // carried by this message
    std::vector<DataRecord> records;      // in order
};

class IpfixSession {
  public:
    IpfixMessage read(const std::vector<std::uint8_t>& m) {
        at_ = 0;
        bytes_ = &m;
        IpfixMessage out;
        out.version = static_cast<std::uint16_t>(get(2));
        if (out.version != 10) fail("version is not 10");
        if (get(2) != m.size()) fail("message length differs from the datagram");
        out.export_s = static_cast<std::uint32_t>(get(4));
        out.sequence = static_cast<std::uint32_t>(get(4));
        out.domain = static_cast<std::uint32_t>(get(4));
        while (at_ < m.size()) read_set(out);
        return out;
    }
    const std::map<std::uint16_t, TemplateSpec>& known() const { return known_; }

  private:
    [[noreturn]] static void fail(const std::string& why) { throw std::runtime_error(why); }

    std::uint64_t get(std::size_t n) {
        if (at_ + n > bytes_->size()) fail("runs past the end");
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v = v << 8 | (*bytes_)[at_++];
        return v;
    }

    void read_set(IpfixMessage& out) {
        const std::size_t start = at_;
        const auto id = static_cast<std::uint16_t>(get(2));
        const std::size_t length = get(2);
        if (length < 4 || start + length > bytes_->size()) fail("bad set length");
        if (length % 4 != 0) fail("set not padded to 4 bytes");
        const std::size_t end = start + length;
        if (id == 2 || id == 3) {
            while (end - at_ >= 4) {
                TemplateSpec t;
                t.id = static_cast<std::uint16_t>(get(2));
                const std::size_t count = get(2);
                if (id == 3) {
                    t.scope_count = static_cast<std::uint16_t>(get(2));
                    if (t.scope_count == 0) fail("options template with no scope");
                }
                for (std::size_t i = 0; i < count; ++i) {
                    FieldSpec f;
                    const auto raw = static_cast<std::uint16_t>(get(2));
                    f.id = raw & 0x7fff;
                    f.length = static_cast<std::uint16_t>(get(2));
                    if (raw & 0x8000) f.enterprise = static_cast<std::uint32_t>(get(4));
                    t.fields.push_back(f);
                }
                if (at_ > end) fail("template runs past its set");
                known_[t.id] = t;
                out.templates.push_back(t);
            }
        } else if (id >= 256) {
            const auto t = known_.find(id);
            if (t == known_.end()) fail("data set before its template");
            // Records back to back until only padding (less than the smallest record) is left.
            while (at_ < end && !only_padding(end)) {
                DataRecord r;
                r.template_id = id;
                for (const FieldSpec& f : t->second.fields) {
                    std::size_t n = f.length;
                    if (n == 0xffff) {
                        n = get(1);
                        if (n == 255) n = get(2);
                    }
                    if (at_ + n > end) fail("field runs past its set");
                    r.values[{f.enterprise, f.id}].assign(bytes_->begin() + at_,
                                                          bytes_->begin() + at_ + n);
                    at_ += n;
                }
                out.records.push_back(std::move(r));
            }
        } else {
            fail("set id " + std::to_string(id) + " is reserved");
        }
        for (; at_ < end; ++at_)
            if ((*bytes_)[at_] != 0) fail("padding is not zero");
    }

    bool only_padding(std::size_t end) const {
        if (end - at_ >= 4) return false;
        for (std::size_t i = at_; i < end; ++i)
            if ((*bytes_)[i] != 0) return false;
        return true;
    }

    std::map<std::uint16_t, TemplateSpec> known_;
    const std::vector<std::uint8_t>* bytes_ = nullptr;
    std::size_t at_ = 0;
};

}  // namespace tarpo::net::test
