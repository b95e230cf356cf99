#include "net/wsjtx_messages.h"

namespace tarpo::net {

namespace {

constexpr std::int64_t unix_epoch_julian_day = 2440588;  // 1970-01-01
constexpr std::int64_t ms_per_day = 86'400'000;
constexpr std::uint8_t time_spec_utc = 1;

struct Stream {
    LoggerMessage out;

    void u8(std::uint8_t v) { out.push_back(v); }
    void boolean(bool v) { u8(v ? 1 : 0); }
    void u32(std::uint32_t v) { put(v, 4); }
    void u64(std::uint64_t v) { put(v, 8); }
    void put(std::uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void utf8(std::string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    void date_time(std::int64_t utc_ms) {
        const StreamDateTime t = stream_date_time(utc_ms);
        put(static_cast<std::uint64_t>(t.julian_day), 8);
        u32(t.ms_of_day);
        u8(time_spec_utc);
    }
};

Stream begin(const LoggerSource& from, LoggerType type) {
    Stream s;
    s.u32(logger_magic);
    s.u32(from.schema);
    s.u32(static_cast<std::uint32_t>(type));
    s.utf8(from.id);
    return s;
}

}  // namespace

StreamDateTime stream_date_time(std::int64_t utc_ms) {
    std::int64_t day = utc_ms / ms_per_day;
    std::int64_t ms = utc_ms % ms_per_day;
    if (ms < 0) {  // before 1970: the day before, counted from its midnight
        ms += ms_per_day;
        --day;
    }
    return {unix_epoch_julian_day + day, static_cast<std::uint32_t>(ms)};
}

LoggerMessage heartbeat_message(const LoggerSource& from, std::uint32_t max_schema,
                                std::string_view version, std::string_view revision) {
    Stream s = begin(from, LoggerType::heartbeat);
    s.u32(max_schema);
    s.utf8(version);
    s.utf8(revision);
    return s.out;
}

LoggerMessage status_message(const LoggerSource& from, const LoggerStatus& st) {
    Stream s = begin(from, LoggerType::status);
    s.u64(st.dial_hz);
    s.utf8(st.mode);
    s.utf8(st.dx_call);
    s.utf8(st.report);
    s.utf8(st.tx_mode);
    s.boolean(st.tx_enabled);
    s.boolean(st.transmitting);
    s.boolean(st.decoding);
    s.u32(st.rx_df_hz);
    s.u32(st.tx_df_hz);
    s.utf8(st.de_call);
    s.utf8(st.de_grid);
    s.utf8(st.dx_grid);
    s.boolean(st.tx_watchdog);
    s.utf8(st.sub_mode);
    s.boolean(st.fast_mode);
    s.u8(st.special_operation);
    s.u32(st.frequency_tolerance_hz);
    s.u32(st.period_s);
    s.utf8(st.configuration);
    s.utf8(st.tx_message);
    return s.out;
}

LoggerMessage qso_logged_message(const LoggerSource& from, const LoggedQso& q) {
    Stream s = begin(from, LoggerType::qso_logged);
    s.date_time(q.time_off_ms);
    s.utf8(q.dx_call);
    s.utf8(q.dx_grid);
    s.u64(q.tx_hz);
    s.utf8(q.mode);
    s.utf8(q.report_sent);
    s.utf8(q.report_received);
    s.utf8(q.tx_power);
    s.utf8(q.comments);
    s.utf8(q.name);
    s.date_time(q.time_on_ms);
    s.utf8(q.operator_call);
    s.utf8(q.my_call);
    s.utf8(q.my_grid);
    s.utf8(q.exchange_sent);
    s.utf8(q.exchange_received);
    s.utf8(q.propagation_mode);
    return s.out;
}

LoggerMessage logged_adif_message(const LoggerSource& from, std::string_view adif) {
    Stream s = begin(from, LoggerType::logged_adif);
    s.utf8(adif);
    return s.out;
}

LoggerMessage close_message(const LoggerSource& from) {
    return begin(from, LoggerType::close).out;
}

}  // namespace tarpo::net
