// The sender's thread against a collector on 127.0.0.1, a port where nothing listens and a name
// that does not resolve: datagrams arrive whole and in order, problems are said once, the queue
// keeps the newest, and stop() returns. Run under ThreadSanitizer (label "threads").
#include "net/report_sender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/ipfix_report.h"
#include "tests/net/ipfix_reader.h"
#include "tests/support/udp_collector.h"

namespace tarpo::net {
namespace {

using namespace std::chrono_literals;

using Collector = tarpo::test::UdpCollector;

// Keeps what the sender says.
struct Said {
    std::mutex mutex;
    std::vector<std::string> lines;
    ReportSender::Sink sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    std::size_t count(const std::string& part) {
        std::lock_guard lock(mutex);
        std::size_t n = 0;
        for (const auto& l : lines) n += l.find(part) != std::string::npos;
        return n;
    }
};

SenderSettings local(const std::string& port) {
    SenderSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.retry = 20ms;
    return s;
}

template <class Done>
bool eventually(Done done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
    return done();
}

TEST(ReportSender, BatchesArriveWholeAtTheCollector) {
    Collector collector;
    Said said;
    ReportSender sender(local(collector.port()), said.sink());
    ReportBatcher batcher({"N0CALL", "FN42", software_name(), "", ""}, 9, 0);
    for (int i = 0; i < 100; ++i) {
        Spot s;
        s.callsign = "W" + std::to_string(i) + "XYZ";
        s.frequency_hz = 14'236'000;
        batcher.add(s, 1);
    }
    const auto datagrams = batcher.poll(300);
    ASSERT_GT(datagrams.size(), 1u);
    for (const auto& d : datagrams) sender.send(d);

    test::IpfixSession reader;
    std::uint32_t sequence = 0;
    std::size_t spots = 0;
    for (const auto& sent : datagrams) {
        const auto got = collector.receive();
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, sent);
        const auto m = reader.read(*got);
        EXPECT_EQ(m.sequence, sequence);
        EXPECT_EQ(m.records.at(0).text(8), software_name());
        sequence += static_cast<std::uint32_t>(m.records.size());
        spots += m.records.size() - 1;
    }
    EXPECT_EQ(spots, 100u);
    EXPECT_TRUE(sender.stop());
    EXPECT_EQ(sender.counts().sent, datagrams.size());
    EXPECT_TRUE(said.lines.empty());
}

// With the usual 30 s retry: a datagram handed to a sender that sits idle goes at once.
TEST(ReportSender, AnIdleSenderSendsAtOnce) {
    Collector collector;
    SenderSettings s = local(collector.port());
    s.retry = SenderSettings{}.retry;
    ReportSender sender(s, Said{}.sink());
    for (std::uint8_t i = 0; i < 5; ++i) {
        sender.send({i});
        const auto got = collector.receive(10'000ms);
        ASSERT_TRUE(got) << "datagram " << int(i);
        EXPECT_EQ(*got, Datagram{i});
    }
}

TEST(ReportSender, AbsentCollectorIsSaidOnceThenItsReturnOnce) {
    Collector gone;
    const std::string port = gone.port();
    gone.close();  // nothing listens there now
    Said said;
    ReportSender sender(local(port), said.sink());
    for (int i = 0; i < 20; ++i) {
        sender.send(Datagram(100, static_cast<std::uint8_t>(i)));
        std::this_thread::sleep_for(5ms);
    }
    // Connected UDP learns of the refusal from the ICMP answer to an earlier datagram.
    EXPECT_TRUE(eventually([&] { return said.count("cannot send to 127.0.0.1:" + port) > 0; }));
    std::this_thread::sleep_for(100ms);  // several retries
    EXPECT_EQ(said.count("cannot send"), 1u);

    // The collector comes up on that port: what is sent from now on arrives.
    Collector back(static_cast<unsigned short>(std::stoi(port)));
    for (int i = 0; i < 3; ++i) sender.send(Datagram(7, 0xee));
    std::optional<Datagram> got;
    while ((got = back.receive(1000ms)) && *got != Datagram(7, 0xee)) {
    }
    EXPECT_TRUE(got) << "a retried datagram or a new one arrives";
    EXPECT_TRUE(eventually([&] { return said.count("sending to 127.0.0.1:" + port + " again"); }));
    EXPECT_EQ(said.count("cannot send"), 1u);
    EXPECT_TRUE(sender.stop());
}

TEST(ReportSender, UnresolvableNameIsSaidOnceQueueKeepsTheNewest) {
    Said said;
    SenderSettings s = local("4739");
    s.host = "no-such-collector.invalid";
    s.capacity = 4;
    ReportSender sender(s, said.sink());
    for (int i = 0; i < 10; ++i) sender.send(Datagram(10, static_cast<std::uint8_t>(i)));
    EXPECT_TRUE(eventually([&] { return said.count("cannot reach no-such-collector") > 0; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(said.count("cannot reach"), 1u);
    const auto c = sender.counts();
    EXPECT_EQ(c.sent, 0u);
    EXPECT_LE(c.waiting, 4u);
    EXPECT_EQ(c.waiting + c.dropped, 10u);
    EXPECT_TRUE(sender.stop());
    EXPECT_EQ(sender.counts().dropped, 10u)
        << "no retries at stop: the first failure leaves the rest";
}

TEST(ReportSender, ManyCallersAndAStopInTheMiddle) {
    Collector collector;
    Said said;
    auto settings = local(collector.port());
    settings.capacity = 1000;
    ReportSender sender(settings, said.sink());
    std::atomic<int> handed{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                sender.send(Datagram(20, static_cast<std::uint8_t>(t)));
                ++handed;
            }
        });
    std::thread reader([&] {
        while (collector.receive(300ms)) {
        }
    });
    for (auto& c : callers) c.join();
    EXPECT_TRUE(sender.stop());
    reader.join();
    const auto c = sender.counts();
    EXPECT_EQ(c.sent + c.dropped, 200u);
    EXPECT_EQ(handed.load(), 200);
    sender.send(Datagram(5));  // after stop: dropped, nothing waits
    EXPECT_EQ(sender.counts().waiting, 0u);
}

TEST(ReportSender, StopIsBoundedWhenTheThreadIsHeld) {
    // A sink that does not return until released holds the thread as a hanging lookup would.
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto returned = std::make_shared<std::atomic<int>>(0);
    SenderSettings s = local("4739");
    s.host = "no-such-collector.invalid";
    s.stop_limit = 100ms;
    {
        ReportSender sender(s, [release, returned](const std::string&) {
            while (!*release) std::this_thread::sleep_for(1ms);
            ++*returned;
        });
        sender.send(Datagram(10));
        std::this_thread::sleep_for(50ms);  // the lookup fails and the sink is held
        EXPECT_FALSE(sender.stop());
        EXPECT_FALSE(sender.stop()) << "the same answer again";
    }
    *release = true;  // the thread left behind ends on its own, its state still alive
    EXPECT_TRUE(eventually([&] { return *returned == 1; }));
    std::this_thread::sleep_for(20ms);
}

}  // namespace
}  // namespace tarpo::net
