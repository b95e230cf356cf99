// The UDP messages loggers and mapping tools listen for (127.0.0.1:2237 by default): each
// datagram is a magic number, the schema, the message type and our id, then the fields, written
// as the Qt data stream of schema 3 writes them (big-endian; strings as a 32-bit byte count and
// UTF-8, 0xffffffff for none; a date and time as Julian day, milliseconds since midnight and
// 1 for UTC). Written here byte by byte, no toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarpo::net {

inline constexpr std::uint32_t logger_magic = 0xadbccbda;
inline constexpr std::uint32_t logger_schema = 3;

enum class LoggerType : std::uint32_t {
    heartbeat = 0,
    status = 1,
    qso_logged = 5,
    close = 6,
    logged_adif = 12,
};

// Who sends: the id the listener shows (the program's name) and the schema written.
struct LoggerSource {
    std::string id = "TARPO";
    std::uint32_t schema = logger_schema;
};

// What the station is doing, sent when it changes (and with each heartbeat by some programs).
struct LoggerStatus {
    std::uint64_t dial_hz = 0;
    std::string mode = "DIGITALVOICE";
    std::string dx_call;
    std::string report;
    std::string tx_mode = "DIGITALVOICE";
    bool tx_enabled = false;
    bool transmitting = false;
    bool decoding = false;
    std::uint32_t rx_df_hz = 0;  // audio offset of the receiver's centre
    std::uint32_t tx_df_hz = 0;
    std::string de_call;
    std::string de_grid;
    std::string dx_grid;
    bool tx_watchdog = false;
    std::string sub_mode;
    bool fast_mode = false;
    std::uint8_t special_operation = 0;
    std::uint32_t frequency_tolerance_hz = 0;
    std::uint32_t period_s = 0;  // T/R period; 0: not a timed mode
    std::string configuration;
    std::string tx_message;
};

// A contact as logged. Times in milliseconds since 1970, UTC.
struct LoggedQso {
    std::int64_t time_off_ms = 0;
    std::string dx_call;
    std::string dx_grid;
    std::uint64_t tx_hz = 0;
    std::string mode = "DIGITALVOICE";
    std::string report_sent;
    std::string report_received;
    std::string tx_power;
    std::string comments;
    std::string name;
    std::int64_t time_on_ms = 0;
    std::string operator_call;
    std::string my_call;
    std::string my_grid;
    std::string exchange_sent;
    std::string exchange_received;
    std::string propagation_mode;
};

using LoggerMessage = std::vector<std::uint8_t>;

// Every 15 s while the program runs.
LoggerMessage heartbeat_message(const LoggerSource& from, std::uint32_t max_schema,
                                std::string_view version, std::string_view revision);
LoggerMessage status_message(const LoggerSource& from, const LoggerStatus& s);
LoggerMessage qso_logged_message(const LoggerSource& from, const LoggedQso& q);
// One ADIF text: a header ending <EOH> and one record ending <EOR> (adif_contact.h).
LoggerMessage logged_adif_message(const LoggerSource& from, std::string_view adif);
// At exit.
LoggerMessage close_message(const LoggerSource& from);

// The Qt data stream's date and time: Julian day and milliseconds since midnight, UTC.
struct StreamDateTime {
    std::int64_t julian_day;
    std::uint32_t ms_of_day;
};
StreamDateTime stream_date_time(std::int64_t utc_ms);

}  // namespace tarpo::net
