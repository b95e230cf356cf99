// What goes to the operator's logger, as network.txt says: with `logger on`, the logger
// messages to logger_to (a Heartbeat every 15 s, a Status whenever the dial, the transmit state
// or the DX call changes, QSOLogged and LoggedADIF for each contact, Close at the end); with
// `adif on`, each contact as one bare ADIF text (header and record) to adif_to. One
// net::ReportSender per destination puts them on the wire, so no call here waits for the
// network. It only sends: nothing that arrives is read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/network_settings.h"
#include "net/adif_contact.h"
#include "net/report_sender.h"
#include "net/wsjtx_messages.h"

namespace tarpo::engine {

class LoggerLink {
  public:
    static constexpr std::int64_t heartbeat_ms = 15'000;

    // Starts a sender for each destination switched on (none when both are off). `sink` hears
    // the senders' one-line problems, on their threads.
    explicit LoggerLink(const NetworkSettings& s,
                        net::ReportSender::Sink sink = net::ReportSender::say_on_stderr);
    ~LoggerLink();
    LoggerLink(const LoggerLink&) = delete;
    LoggerLink& operator=(const LoggerLink&) = delete;

    bool sends_messages() const { return messages_ != nullptr; }
    bool sends_adif() const { return adif_ != nullptr; }

    // A Heartbeat at the first tick and then whenever heartbeat_ms have gone by since the last
    // (`now_ms` from any clock that does not go backward).
    void tick(std::int64_t now_ms);
    // A Status when the dial, the transmit state (enabled, transmitting), the DX call or the
    // own call or grid differ from the last one sent; other fields ride along.
    void status(const net::LoggerStatus& s);
    // QSOLogged and LoggedADIF to the logger, the bare ADIF text to its destination.
    void contact(const net::Contact& c);
    // Close to the logger, then the senders end within about a second each. False when one was
    // still busy then. Later calls send nothing.
    bool stop();

  private:
    net::LoggerSource from_;
    std::unique_ptr<net::ReportSender> messages_;
    std::unique_ptr<net::ReportSender> adif_;
    std::optional<std::int64_t> last_heartbeat_ms_;
    std::optional<net::LoggerStatus> last_status_;
    bool stopped_ = false;
};

// The QSOLogged fields of a contact.
net::LoggedQso logged_qso(const net::Contact& c);

}  // namespace tarpo::engine
