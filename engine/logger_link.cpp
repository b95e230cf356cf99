#include "engine/logger_link.h"

#include <chrono>
#include <tuple>

namespace tarpo::engine {

namespace {

std::unique_ptr<net::ReportSender> sender_to(const Endpoint& to, const char* label,
                                             const net::ReportSender::Sink& sink) {
    net::SenderSettings s;
    s.host = to.host;
    s.port = to.port;
    s.label = label;
    // A logger is a program on this machine or the next: a second is plenty at the end.
    s.stop_limit = std::chrono::milliseconds(1000);
    return std::make_unique<net::ReportSender>(s, sink);
}

// The fields whose change is worth a Status.
auto watched(const net::LoggerStatus& s) {
    return std::tie(s.dial_hz, s.tx_enabled, s.transmitting, s.dx_call, s.de_call, s.de_grid);
}

}  // namespace

LoggerLink::LoggerLink(const NetworkSettings& s, net::ReportSender::Sink sink) {
    if (s.logger) messages_ = sender_to(s.logger_to, "logger messages", sink);
    if (s.adif) adif_ = sender_to(s.adif_to, "ADIF records", sink);
}

LoggerLink::~LoggerLink() {
    stop();
}

void LoggerLink::tick(std::int64_t now_ms) {
    if (!messages_ || stopped_) return;
    if (last_heartbeat_ms_ && now_ms - *last_heartbeat_ms_ < heartbeat_ms) return;
    last_heartbeat_ms_ = now_ms;
    messages_->send(net::heartbeat_message(from_, net::logger_schema, TARPO_VERSION, ""));
}

void LoggerLink::status(const net::LoggerStatus& s) {
    if (!messages_ || stopped_) return;
    if (last_status_ && watched(*last_status_) == watched(s)) return;
    last_status_ = s;
    messages_->send(net::status_message(from_, s));
}

void LoggerLink::contact(const net::Contact& c) {
    if (stopped_) return;
    const std::string adif = net::adif_contact_header() + net::adif_contact_record(c);
    if (messages_) {
        messages_->send(net::qso_logged_message(from_, logged_qso(c)));
        messages_->send(net::logged_adif_message(from_, adif));
    }
    if (adif_) adif_->send(std::vector<std::uint8_t>(adif.begin(), adif.end()));
}

bool LoggerLink::stop() {
    if (stopped_) return true;
    stopped_ = true;
    bool ok = true;
    if (messages_) {
        messages_->send(net::close_message(from_));
        ok = messages_->stop();
    }
    if (adif_) ok = adif_->stop() && ok;
    return ok;
}

net::LoggedQso logged_qso(const net::Contact& c) {
    net::LoggedQso q;
    q.time_off_ms = c.end_ms;
    q.time_on_ms = c.start_ms;
    q.dx_call = c.call;
    q.tx_hz = c.frequency_hz.value_or(0);
    q.report_sent = c.rst_sent;
    q.report_received = c.rst_received;
    q.comments = c.comment;
    q.name = c.name;
    q.my_call = c.station_callsign;
    q.my_grid = c.my_gridsquare;
    return q;
}

}  // namespace tarpo::engine
