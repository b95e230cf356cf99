// A contact as an ADIF 3 record, for a logger (the LoggedADIF message, or the bare record as one
// datagram to the loggers that take that) and for files. The same conventions as the heard log:
// "<NAME:length>value " fields, QSO_DATE and TIME_ON from the start, FREQ in MHz with six
// decimals, MODE DIGITALVOICE, <EOR> and a line end. Lengths count characters (UTF-8), and every
// value is cleaned first, because callsigns and names may come from the air: control characters
// become blanks, '<' and '>' become '(' and ')' so no value reads as a tag to a reader that
// ignores lengths, malformed UTF-8 becomes '?', and each field is cut to its most.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarpo::net {

struct Contact {
    std::string call;
    std::int64_t start_ms = 0;  // UTC, milliseconds since 1970
    std::int64_t end_ms = 0;
    std::optional<std::uint64_t> frequency_hz;  // RF; FREQ and BAND only when known
    std::string rst_sent;
    std::string rst_received;
    std::string station_callsign;
    std::string my_gridsquare;  // left out unless a valid locator
    std::string comment;
    std::string name;
};

// The most characters each field keeps.
inline constexpr std::size_t adif_call_chars = 32;
inline constexpr std::size_t adif_rst_chars = 8;
inline constexpr std::size_t adif_name_chars = 64;
inline constexpr std::size_t adif_comment_chars = 200;

// "<ADIF_VER:5>3.1.4 <PROGRAMID:5>TARPO <PROGRAMVERSION:n>... <EOH>" and a line end.
std::string adif_contact_header();
// One record, ending "<EOR>" and a line end: CALL, QSO_DATE, TIME_ON, QSO_DATE_OFF (only when the
// contact ended on a later day), TIME_OFF, FREQ and BAND (when known), MODE, RST_SENT, RST_RCVD,
// STATION_CALLSIGN, MY_GRIDSQUARE, COMMENT, NAME; empty values left out.
std::string adif_contact_record(const Contact& c);

// `text` as a value may hold it: cleaned as above and cut to `most_chars` characters. With
// `ascii`, any character beyond ASCII becomes '?' (callsigns, reports).
std::string adif_clean(std::string_view text, std::size_t most_chars, bool ascii);

// Characters (UTF-8 code points) in `text`.
std::size_t utf8_chars(std::string_view text);

// Reads the records of ADIF text whose lengths count characters: one name -> value list per
// record, names in capitals, the header (text before <EOH> when the text does not begin with a
// tag) skipped. A field whose length runs past the end ends the reading. For tests and tools.
struct AdifValue {
    std::string name;
    std::string value;
};
std::vector<std::vector<AdifValue>> read_adif_records(std::string_view text);

}  // namespace tarpo::net
