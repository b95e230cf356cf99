// The reports' encoder against the worked example, and the batcher's datagrams read back by a
// generic IPFIX reader: every field, the sequence numbers, the templates and their repetition,
// the test bit, the duplicate rule, the pace and the split below 1400 bytes.
#include "net/ipfix_report.h"

#include <gtest/gtest.h>

#include "tests/net/ipfix_reader.h"

namespace tarpo::net {
namespace {

using test::IpfixMessage;
using test::IpfixSession;

std::vector<std::uint8_t> hex(const char* text) {
    std::vector<std::uint8_t> out;
    for (const char* p = text; p[0] && p[1]; ++p) {
        if (p[0] == ' ' || p[0] == '\n') continue;
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        ++p;
    }
    return out;
}

const ReceiverInfo station{"N0CALL", "FN42hn", "TARPO 0.1", "dipole", ""};

Spot w1aw() {
    Spot s;
    s.callsign = "W1AW";
    s.frequency_hz = 14'236'000;
    s.snr_db = -3;
    s.start_s = 1'700'000'000;
    return s;
}

TEST(IpfixReport, ReproducesTheWorkedExample) {
    const auto expected =
        hex("00 0a 00 c8 65 53 f1 64 00 00 00 00 12 34 56 78"
            "00 02 00 3c 50 e3 00 07 80 01 ff ff 00 00 76 8f"
            "80 05 00 05 00 00 76 8f 80 06 00 01 00 00 76 8f"
            "80 0a ff ff 00 00 76 8f 80 03 ff ff 00 00 76 8f"
            "80 0b 00 01 00 00 76 8f 00 96 00 04 00 03 00 34"
            "50 e2 00 05 00 01 80 02 ff ff 00 00 76 8f 80 04"
            "ff ff 00 00 76 8f 80 08 ff ff 00 00 76 8f 80 09"
            "ff ff 00 00 76 8f 80 0d ff ff 00 00 76 8f 00 00"
            "50 e2 00 24 06 4e 30 43 41 4c 4c 06 46 4e 34 32"
            "68 6e 09 54 41 52 50 4f 20 30 2e 31 06 64 69 70"
            "6f 6c 65 00 50 e3 00 24 04 57 31 41 57 00 00 d9"
            "39 60 fd 0c 44 49 47 49 54 41 4c 56 4f 49 43 45"
            "00 01 65 53 f1 00 00 00");
    ASSERT_EQ(expected.size(), 200u);
    const Spot spots[] = {w1aw()};
    EXPECT_EQ(encode_report(station, spots, {1'700'000'100, 0, 0x12345678, true}), expected);

    // The batcher makes the same datagram from the same inputs.
    ReportBatcher batcher(station, 0x12345678, 1'700'000'000);
    EXPECT_EQ(batcher.add(w1aw(), 1'700'000'000), ReportBatcher::Taken::queued);
    const auto out = batcher.flush(1'700'000'100);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], expected);
}

TEST(IpfixReport, StringsAreCutAtCharacterBoundaries) {
    ReceiverInfo r = station;
    r.software = std::string(79, 'x') + "\xc3\xa9";  // an e-acute straddling byte 80
    r.antenna = std::string(300, 'a');
    IpfixSession reader;
    const auto m = reader.read(encode_report(r, {}, {0, 0, 1, true}));
    ASSERT_EQ(m.records.size(), 1u);
    EXPECT_EQ(m.records[0].text(8), std::string(79, 'x'));
    EXPECT_EQ(m.records[0].text(9), std::string(128, 'a'));
}

struct Batched {
    std::vector<IpfixMessage> messages;
    std::vector<std::size_t> sizes;
};

Batched read_all(IpfixSession& reader, const std::vector<Datagram>& datagrams) {
    Batched b;
    for (const auto& d : datagrams) {
        b.sizes.push_back(d.size());
        b.messages.push_back(reader.read(d));
    }
    return b;
}

TEST(IpfixReport, BatcherFieldsPaceTemplatesAndSequence) {
    BatchSettings settings;
    settings.interval_s = 10;
    settings.template_repeat_s = 100;
    const std::int64_t t0 = 1'800'000'000;
    ReportBatcher batcher(station, 77, t0, settings);
    IpfixSession reader;

    Spot heard = w1aw();
    heard.callsign = "dl1abc/p";
    heard.locator = "jo62QM";
    heard.snr_db = 12;
    heard.start_s = t0 + 1;
    ASSERT_EQ(batcher.add(heard, t0 + 2), ReportBatcher::Taken::queued);
    Spot replay = w1aw();
    replay.callsign = "K1ABC";
    replay.locator = "XX99";  // not a locator: sent empty
    replay.frequency_hz = 7'100'500;
    replay.snr_db = -200;
    replay.test = true;
    ASSERT_EQ(batcher.add(replay, t0 + 3), ReportBatcher::Taken::queued);

    EXPECT_TRUE(batcher.poll(t0 + 9).empty()) << "before the interval";
    auto b = read_all(reader, batcher.poll(t0 + 10));
    ASSERT_EQ(b.messages.size(), 1u);
    const IpfixMessage& m = b.messages[0];
    EXPECT_EQ(m.export_s, t0 + 10);
    EXPECT_EQ(m.sequence, 0u);
    EXPECT_EQ(m.domain, 77u);
    ASSERT_EQ(m.templates.size(), 2u);
    EXPECT_EQ(m.templates[1].scope_count, 1u);
    ASSERT_EQ(m.records.size(), 3u);
    const auto& rx = m.records[0];
    EXPECT_EQ(rx.template_id, receiver_template_id);
    EXPECT_EQ(rx.text(2), "N0CALL");
    EXPECT_EQ(rx.text(4), "FN42hn");
    EXPECT_EQ(rx.text(8), "TARPO 0.1");
    EXPECT_EQ(rx.text(9), "dipole");
    EXPECT_EQ(rx.text(13), "");
    const auto& s1 = m.records[1];
    EXPECT_EQ(s1.template_id, sender_template_id);
    EXPECT_EQ(s1.text(1), "DL1ABC/P");
    EXPECT_EQ(s1.text(3), "JO62qm");
    EXPECT_EQ(s1.number(5), 14'236'000u);
    EXPECT_EQ(s1.number(6), 12u);
    EXPECT_EQ(s1.text(10), "DIGITALVOICE");
    EXPECT_EQ(s1.number(11), 1u);
    EXPECT_EQ(s1.number(150, 0), static_cast<std::uint64_t>(t0 + 1));
    const auto& s2 = m.records[2];
    EXPECT_EQ(s2.text(1), "K1ABC");
    EXPECT_EQ(s2.text(3), "");
    EXPECT_EQ(s2.number(5), 7'100'500u);
    EXPECT_EQ(s2.number(6), 0x80u) << "SNR clamped to -128";
    EXPECT_EQ(s2.number(11), 0x81u) << "test bit";

    // Nothing waiting: nothing sent. Templates in the first three datagrams only; the sequence
    // counts the data records (receiver and spots) sent before.
    EXPECT_TRUE(batcher.poll(t0 + 30).empty());
    std::uint32_t expected_sequence = 3;
    for (int round = 1; round < 5; ++round) {
        const std::int64_t now = t0 + 10 + 10 * round;
        Spot s = w1aw();
        s.callsign = "G" + std::to_string(round) + "AB";
        batcher.add(s, now);
        b = read_all(reader, batcher.poll(now));
        ASSERT_EQ(b.messages.size(), 1u);
        EXPECT_EQ(b.messages[0].sequence, expected_sequence);
        EXPECT_EQ(b.messages[0].templates.empty(), round >= 3) << round;
        expected_sequence += 2;
    }
    // An hour (here 100 s) after the first: three more with templates.
    for (int round = 0; round < 4; ++round) {
        const std::int64_t now = t0 + 100 + 10 * round;
        Spot s = w1aw();
        s.callsign = "F" + std::to_string(round) + "XY";
        batcher.add(s, now);
        b = read_all(reader, batcher.poll(now));
        ASSERT_EQ(b.messages.size(), 1u);
        EXPECT_EQ(b.messages[0].templates.empty(), round >= 3) << round;
    }
}

TEST(IpfixReport, DuplicatesAndImplausibleCallsigns) {
    BatchSettings settings;
    settings.duplicate_s = 300;
    ReportBatcher batcher(station, 1, 0, settings);
    using Taken = ReportBatcher::Taken;
    Spot s = w1aw();
    EXPECT_EQ(batcher.add(s, 10), Taken::queued);
    s.frequency_hz = 14'300'000;  // same band
    EXPECT_EQ(batcher.add(s, 200), Taken::duplicate);
    s.callsign = "w1aw";  // same callsign once upper-cased
    EXPECT_EQ(batcher.add(s, 250), Taken::duplicate);
    s.frequency_hz = 7'100'000;  // another band
    EXPECT_EQ(batcher.add(s, 250), Taken::queued);
    s.frequency_hz = 14'236'000;
    EXPECT_EQ(batcher.add(s, 309), Taken::duplicate);
    EXPECT_EQ(batcher.add(s, 310), Taken::queued) << "five minutes after the first";
    for (const char* noise :
         {"", "AB", "W1AW<>", "////", "ABCDEF", "123456", "W1AW/", "1234567890ABCDEF"}) {
        s.callsign = noise;
        EXPECT_EQ(batcher.add(s, 400), Taken::implausible) << noise;
    }
    EXPECT_EQ(batcher.waiting(), 3u);
}

TEST(IpfixReport, LargeBatchesSplitBelow1400BytesEachWithTheReceiver) {
    ReportBatcher batcher(station, 5, 0);
    const int count = 150;
    for (int i = 0; i < count; ++i) {
        Spot s = w1aw();
        s.callsign = "VK" + std::to_string(i) + "ABCDEFG";
        s.locator = "QF22lt";
        EXPECT_EQ(batcher.add(s, 1), ReportBatcher::Taken::queued);
    }
    EXPECT_TRUE(batcher.poll(299).empty());
    IpfixSession reader;
    const auto b = read_all(reader, batcher.poll(300));
    ASSERT_GT(b.messages.size(), 2u);
    int next = 0;
    std::uint32_t sequence = 0;
    for (std::size_t i = 0; i < b.messages.size(); ++i) {
        const IpfixMessage& m = b.messages[i];
        EXPECT_LT(b.sizes[i], 1400u);
        EXPECT_EQ(m.sequence, sequence);
        sequence += static_cast<std::uint32_t>(m.records.size());
        ASSERT_GE(m.records.size(), 2u);
        EXPECT_EQ(m.records[0].template_id, receiver_template_id);
        EXPECT_EQ(m.records[0].text(2), "N0CALL");
        for (std::size_t r = 1; r < m.records.size(); ++r)
            EXPECT_EQ(m.records[r].text(1), "VK" + std::to_string(next++) + "ABCDEFG");
    }
    EXPECT_EQ(next, count) << "every spot once, in order";
    // A datagram full of spots is close to the limit: the split does not waste datagrams.
    EXPECT_GT(b.sizes[0], 1400u - spot_record_size(w1aw()) - 40);
    EXPECT_EQ(batcher.waiting(), 0u);
    EXPECT_TRUE(batcher.flush(400).empty());
}

}  // namespace
}  // namespace tarpo::net
