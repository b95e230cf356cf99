#include "net/ipfix_report.h"

#include <algorithm>
#include <random>

#include "net/bands.h"
#include "net/callsign_check.h"

namespace tarpo::net {

namespace {

constexpr std::uint32_t enterprise = 30351;
constexpr std::uint16_t variable = 0xffff;
constexpr std::size_t header_bytes = 16;
constexpr std::size_t set_header_bytes = 4;
constexpr std::size_t frequency_bytes = 5;

// Cuts `text` to at most `most` bytes without splitting a UTF-8 character.
std::string_view cut(std::string_view text, std::size_t most) {
    if (text.size() <= most) return text;
    std::size_t n = most;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xc0) == 0x80) --n;
    return text.substr(0, n);
}

struct Writer {
    Datagram& out;

    void u8(std::uint8_t v) { out.push_back(v); }
    void u16(std::uint16_t v) { put(v, 2); }
    void u32(std::uint32_t v) { put(v, 4); }
    void put(std::uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void text(std::string_view s, std::size_t most) {
        const std::string_view c = cut(s, most);
        u8(static_cast<std::uint8_t>(c.size()));
        out.insert(out.end(), c.begin(), c.end());
    }
    void element(std::uint16_t id, std::uint16_t length) {
        u16(static_cast<std::uint16_t>(0x8000 | id));
        u16(length);
        u32(enterprise);
    }
    // Starts a set; returns where its length goes.
    std::size_t begin_set(std::uint16_t id) {
        u16(id);
        u16(0);
        return out.size() - 4;
    }
    // Pads the set to a multiple of 4 and writes its length.
    void end_set(std::size_t at) {
        while ((out.size() - at) % 4 != 0) out.push_back(0);
        patch16(at + 2, out.size() - at);
    }
    void patch16(std::size_t at, std::size_t v) {
        out[at] = static_cast<std::uint8_t>(v >> 8);
        out[at + 1] = static_cast<std::uint8_t>(v);
    }
};

enum Element : std::uint16_t {
    sender_callsign = 1,
    receiver_callsign = 2,
    sender_locator = 3,
    receiver_locator = 4,
    frequency = 5,
    snr = 6,
    decoder_software = 8,
    antenna_information = 9,
    mode = 10,
    information_source = 11,
    rig_information = 13,
};

void write_templates(Writer& w) {
    const std::size_t spots = w.begin_set(2);
    w.u16(sender_template_id);
    w.u16(7);
    w.element(sender_callsign, variable);
    w.element(frequency, frequency_bytes);
    w.element(snr, 1);
    w.element(mode, variable);
    w.element(sender_locator, variable);
    w.element(information_source, 1);
    w.u16(150);  // flowStartSeconds, a standard element: no enterprise number
    w.u16(4);
    w.end_set(spots);

    const std::size_t options = w.begin_set(3);
    w.u16(receiver_template_id);
    w.u16(5);
    w.u16(1);  // scope: the receiver's callsign
    w.element(receiver_callsign, variable);
    w.element(receiver_locator, variable);
    w.element(decoder_software, variable);
    w.element(antenna_information, variable);
    w.element(rig_information, variable);
    w.end_set(options);
}

void write_receiver(Writer& w, const ReceiverInfo& r) {
    const std::size_t set = w.begin_set(receiver_template_id);
    w.text(r.callsign, 32);
    w.text(r.locator, 16);
    w.text(r.software, 80);
    w.text(r.antenna, 128);
    w.text(r.rig, 128);
    w.end_set(set);
}

void write_spot(Writer& w, const Spot& s) {
    w.text(s.callsign, 32);
    w.put(s.frequency_hz, frequency_bytes);
    w.u8(static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(s.snr_db, -128, 127))));
    w.text(s.mode, 16);
    w.text(s.locator, 16);
    w.u8(static_cast<std::uint8_t>((s.source & 0x7f) | (s.test ? 0x80 : 0)));
    w.u32(static_cast<std::uint32_t>(s.start_s));
}

std::size_t padded(std::size_t n) {
    return (n + 3) / 4 * 4;
}

std::size_t receiver_set_size(const ReceiverInfo& r) {
    return padded(set_header_bytes + 5 + cut(r.callsign, 32).size() + cut(r.locator, 16).size() +
                  cut(r.software, 80).size() + cut(r.antenna, 128).size() + cut(r.rig, 128).size());
}

constexpr std::size_t templates_size = 60 + 52;

}  // namespace

std::string software_name() {
    return std::string("TARPO ") + TARPO_VERSION;
}

std::size_t spot_record_size(const Spot& s) {
    return 1 + cut(s.callsign, 32).size() + frequency_bytes + 1 + 1 + cut(s.mode, 16).size() + 1 +
           cut(s.locator, 16).size() + 1 + 4;
}

Datagram encode_report(const ReceiverInfo& receiver, std::span<const Spot> spots,
                       const MessageFrame& frame) {
    Datagram out;
    Writer w{out};
    w.u16(0x000a);
    w.u16(0);
    w.u32(frame.export_s);
    w.u32(frame.sequence);
    w.u32(frame.domain);
    if (frame.templates) write_templates(w);
    write_receiver(w, receiver);
    if (!spots.empty()) {
        const std::size_t set = w.begin_set(sender_template_id);
        for (const Spot& s : spots) write_spot(w, s);
        w.end_set(set);
    }
    w.patch16(2, out.size());
    return out;
}

std::uint32_t random_domain() {
    std::random_device device;
    return static_cast<std::uint32_t>(device());
}

ReportBatcher::ReportBatcher(ReceiverInfo receiver, std::uint32_t domain, std::int64_t start_s,
                             BatchSettings settings)
    : receiver_(std::move(receiver)),
      settings_(settings),
      domain_(domain),
      last_send_s_(start_s),
      templates_from_s_(start_s) {}

ReportBatcher::Taken ReportBatcher::add(Spot spot, std::int64_t now_s) {
    const auto call = plausible_callsign(spot.callsign);
    if (!call) return Taken::implausible;
    spot.callsign = *call;
    spot.locator = valid_locator(spot.locator) ? normal_locator(spot.locator) : std::string();
    std::string band(band_of(spot.frequency_hz));
    if (band.empty()) band = std::to_string(spot.frequency_hz / 1'000'000) + "MHz";

    while (!reported_.empty() && now_s - reported_.front().at_s >= settings_.duplicate_s)
        reported_.pop_front();
    for (const Reported& r : reported_)
        if (r.callsign == spot.callsign && r.band == band) return Taken::duplicate;
    reported_.push_back({spot.callsign, std::move(band), now_s});

    waiting_.push_back(std::move(spot));
    if (waiting_.size() > settings_.max_waiting) {
        waiting_.pop_front();
        ++dropped_;
    }
    return Taken::queued;
}

std::vector<Datagram> ReportBatcher::poll(std::int64_t now_s) {
    if (waiting_.empty() || now_s - last_send_s_ < settings_.interval_s) return {};
    return send_all(now_s);
}

std::vector<Datagram> ReportBatcher::flush(std::int64_t now_s) {
    if (waiting_.empty()) return {};
    return send_all(now_s);
}

std::vector<Datagram> ReportBatcher::send_all(std::int64_t now_s) {
    std::vector<Datagram> out;
    while (!waiting_.empty()) out.push_back(next_datagram(now_s));
    last_send_s_ = now_s;
    return out;
}

Datagram ReportBatcher::next_datagram(std::int64_t now_s) {
    if (now_s - templates_from_s_ >= settings_.template_repeat_s) {
        templates_from_s_ = now_s;
        templates_left_ = 3;
    }
    const bool templates = templates_left_ > 0;
    if (templates) --templates_left_;

    std::size_t bytes = header_bytes + (templates ? templates_size : 0) +
                        receiver_set_size(receiver_) + set_header_bytes;
    std::size_t n = 0;
    while (n < waiting_.size()) {
        const std::size_t more = spot_record_size(waiting_[n]);
        if (n > 0 && padded(bytes + more) >= settings_.max_bytes) break;
        bytes += more;
        ++n;
    }
    const std::vector<Spot> spots(waiting_.begin(), waiting_.begin() + static_cast<long>(n));
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(n));
    const MessageFrame frame{static_cast<std::uint32_t>(now_s), sequence_, domain_, templates};
    sequence_ += static_cast<std::uint32_t>(1 + n);  // the receiver record and the spots
    return encode_report(receiver_, spots, frame);
}

}  // namespace tarpo::net
