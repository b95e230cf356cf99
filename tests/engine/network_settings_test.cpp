#include "engine/network_settings.h"

#include <gtest/gtest.h>

namespace tarpo::engine {
namespace {

TEST(NetworkSettings, OffUntilSwitchedOnAndRoundTrips) {
    EXPECT_EQ(read_network_settings("", nullptr), NetworkSettings{});
    NetworkSettings s;
    s.report = true;
    s.report_to = {"127.0.0.1", "14739"};
    s.antenna = "dipole at 10 m";
    s.dial_hz = 14'236'000;
    s.logger = true;
    s.logger_to = {"224.0.0.73", "2237"};
    s.adif_to = {"::1", "2333"};
    std::vector<std::string> notes;
    EXPECT_EQ(read_network_settings(format_network_settings(s), &notes), s);
    EXPECT_TRUE(notes.empty());
    // A line end in the antenna cannot split the file.
    s.antenna = "long\nwire";
    const NetworkSettings back = read_network_settings(format_network_settings(s), &notes);
    EXPECT_EQ(back.antenna, "long wire");
    EXPECT_TRUE(notes.empty());
}

TEST(NetworkSettings, HostileValuesAreNotedAndSkipped) {
    std::vector<std::string> notes;
    const NetworkSettings s = read_network_settings(
        "report yes\nreport_to nohost\nlogger_to host:0\nadif_to [::1:2333\nreport_to a b:1\n"
        "logger_to ::1:2237\ndial 12abc\nsquelch 3\nreport_to x:99999\nreport on\n",
        &notes);
    EXPECT_TRUE(s.report);
    EXPECT_EQ(s.report_to, NetworkSettings{}.report_to);
    EXPECT_EQ(s.logger_to, NetworkSettings{}.logger_to);
    EXPECT_EQ(s.adif_to, NetworkSettings{}.adif_to);
    EXPECT_FALSE(s.dial_hz);
    ASSERT_EQ(notes.size(), 9u);
    EXPECT_EQ(notes[0], "line 1: report 'yes' is neither on nor off; using off");
    EXPECT_EQ(notes[1],
              "line 2: report_to 'nohost' is not HOST:PORT; using "
              "report.pskreporter.info:4739");
    EXPECT_EQ(notes[8],
              "line 9: report_to 'x:99999' is not HOST:PORT; using "
              "report.pskreporter.info:4739");
    EXPECT_EQ(parse_endpoint("[::1]:2333"), (Endpoint{"::1", "2333"}));
    EXPECT_EQ(parse_endpoint("report.pskreporter.info:04739"),
              (Endpoint{"report.pskreporter.info", "4739"}));
}

}  // namespace
}  // namespace tarpo::engine
