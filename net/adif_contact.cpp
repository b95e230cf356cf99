#include "net/adif_contact.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "net/bands.h"
#include "net/callsign_check.h"

namespace tarpo::net {

namespace {

// Length of the UTF-8 character starting with `lead`, 0 when it cannot start one.
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf) return 2;
    if (lead >= 0xe0 && lead <= 0xef) return 3;
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    return 0;
}

// Length of the well-formed character at `text[at]`, 0 when malformed (overlong forms, surrogates
// and values past U+10FFFF included).
std::size_t valid_character(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const std::size_t n = sequence_length(byte(0));
    if (n == 0 || at + n > text.size()) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((byte(i) & 0xc0) != 0x80) return 0;
    if (n == 3 && byte(0) == 0xe0 && byte(1) < 0xa0) return 0;
    if (n == 3 && byte(0) == 0xed && byte(1) >= 0xa0) return 0;
    if (n == 4 && byte(0) == 0xf0 && byte(1) < 0x90) return 0;
    if (n == 4 && byte(0) == 0xf4 && byte(1) >= 0x90) return 0;
    return n;
}

std::string format_utc(std::int64_t utc_ms, const char* format) {
    const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, format, &t));
}

void field(std::string& out, std::string_view name, const std::string& value) {
    if (value.empty()) return;
    out += "<" + std::string(name) + ":" + std::to_string(utf8_chars(value)) + ">" + value + " ";
}

}  // namespace

std::size_t utf8_chars(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) n += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    return n;
}

std::string adif_clean(std::string_view text, std::size_t most_chars, bool ascii) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t at = 0; at < text.size() && chars < most_chars; ++chars) {
        const std::size_t n = valid_character(text, at);
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (n == 0 || (ascii && n > 1)) {
            out += '?';
            at += n == 0 ? 1 : n;
        } else if (n > 1) {
            out += text.substr(at, n);
            at += n;
        } else {
            out += c < 0x20 || c == 0x7f ? ' ' : c == '<' ? '(' : c == '>' ? ')' : char(c);
            ++at;
        }
    }
    return out;
}

std::string adif_contact_header() {
    std::string h = "TARPO contact\n";
    field(h, "ADIF_VER", "3.1.4");
    field(h, "PROGRAMID", "TARPO");
    field(h, "PROGRAMVERSION", TARPO_VERSION);
    return h + "\n<EOH>\n";
}

std::string adif_contact_record(const Contact& c) {
    std::string r;
    field(r, "CALL", adif_clean(c.call, adif_call_chars, true));
    field(r, "QSO_DATE", format_utc(c.start_ms, "%Y%m%d"));
    field(r, "TIME_ON", format_utc(c.start_ms, "%H%M%S"));
    const std::string date_off = format_utc(c.end_ms, "%Y%m%d");
    if (date_off != format_utc(c.start_ms, "%Y%m%d")) field(r, "QSO_DATE_OFF", date_off);
    field(r, "TIME_OFF", format_utc(c.end_ms, "%H%M%S"));
    if (c.frequency_hz) {
        char mhz[32];
        std::snprintf(mhz, sizeof mhz, "%.6f", static_cast<double>(*c.frequency_hz) / 1e6);
        field(r, "FREQ", mhz);
        field(r, "BAND", std::string(band_of(*c.frequency_hz)));
    }
    field(r, "MODE", "DIGITALVOICE");
    field(r, "RST_SENT", adif_clean(c.rst_sent, adif_rst_chars, true));
    field(r, "RST_RCVD", adif_clean(c.rst_received, adif_rst_chars, true));
    field(r, "STATION_CALLSIGN", adif_clean(c.station_callsign, adif_call_chars, true));
    if (valid_locator(c.my_gridsquare)) field(r, "MY_GRIDSQUARE", normal_locator(c.my_gridsquare));
    field(r, "COMMENT", adif_clean(c.comment, adif_comment_chars, false));
    field(r, "NAME", adif_clean(c.name, adif_name_chars, false));
    return r + "<EOR>\n";
}

std::vector<std::vector<AdifValue>> read_adif_records(std::string_view text) {
    const auto upper = [](std::string_view s) {
        std::string u(s);
        for (char& c : u)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return u;
    };
    std::vector<std::vector<AdifValue>> records;
    std::size_t at = 0;
    if (!text.empty() && text[0] != '<') {
        const std::size_t eoh = upper(text).find("<EOH>");
        at = eoh == std::string::npos ? text.size() : eoh + 5;
    }
    std::vector<AdifValue> record;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        const std::size_t close = text.find('>', at);
        if (close == std::string_view::npos) break;
        const std::string tag = upper(text.substr(at + 1, close - at - 1));
        at = close + 1;
        if (tag == "EOR") {
            records.push_back(std::move(record));
            record.clear();
            continue;
        }
        const std::size_t colon = tag.find(':');
        if (colon == std::string::npos) continue;
        std::size_t chars = std::strtoul(tag.c_str() + colon + 1, nullptr, 10);
        std::size_t end = at;
        while (chars > 0 && end < text.size()) {
            ++end;
            while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
                ++end;
            --chars;
        }
        if (chars > 0) break;  // a length that runs past the end: malformed
        record.push_back({tag.substr(0, colon), std::string(text.substr(at, end - at))});
        at = end;
    }
    return records;
}

}  // namespace tarpo::net
