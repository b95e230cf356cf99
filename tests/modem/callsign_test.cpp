#include "modem/callsign.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using tarpo::modem::CallsignChannel;

// The whole sequence that callsign_set builds, read back one cycle through the sender.
std::vector<int> sequence_of(const char* callsign, std::string* upper = nullptr) {
    CallsignChannel channel;
    char text[81] = {};
    std::strncpy(text, callsign, 80);
    channel.set_text(text);
    if (upper) *upper = text;
    // The sequence is sent cyclically; find its length by the period of the sender.
    std::vector<int> out;
    for (int i = 0; i < 2 * CallsignChannel::max_sequence; ++i) out.push_back(channel.next_dibit());
    for (std::size_t period = 1; period <= out.size() / 2; ++period) {
        bool repeats = true;
        for (std::size_t i = period; i < out.size() && repeats; ++i)
            repeats = out[i] == out[i - period];
        if (repeats) return std::vector<int>(out.begin(), out.begin() + static_cast<long>(period));
    }
    return out;
}

std::string receive(CallsignChannel& channel, const std::vector<int>& dibits) {
    for (int d : dibits) channel.receive_dibit(d);
    char text[80] = {};
    return channel.take_text(text) > 0 ? std::string(text) : std::string("<none>");
}

TEST(CallsignEncoder, GoldenSequences) {
    EXPECT_EQ(sequence_of("NOCALL"), (std::vector<int>{0, 1, 1, 1, 0, 1, 1, 2, 0, 3, 3, 2, 0, 3,
                                                       3, 3, 0, 1, 3, 2, 0, 1, 3, 2, 0, 2, 0}));
    std::string upper;
    EXPECT_EQ(sequence_of("ab/1", &upper),
              (std::vector<int>{0, 3, 3, 3, 0, 3, 3, 1, 0, 1, 0, 3, 3, 0, 2, 0}));
    EXPECT_EQ(upper, "AB/1");  // upper-cased in place
    // The hyphen is not in the alphabet and goes as a space.
    EXPECT_EQ(sequence_of("K-9"), (std::vector<int>{0, 1, 3, 1, 0, 3, 0, 2, 2, 0, 2, 0}));
    EXPECT_EQ(sequence_of(""), (std::vector<int>{0, 2, 0}));
    // Digit 0 takes three dibits, digits 1..9 two; a line feed goes as a space.
    EXPECT_EQ(sequence_of("0\n"), (std::vector<int>{0, 2, 2, 2, 0, 3, 0, 2, 0}));
}

TEST(CallsignEncoder, LongTextIsCutTo80Characters) {
    const std::string text(100, 'A');  // three dibits each
    EXPECT_EQ(sequence_of(text.c_str()).size(), 80u * 4 + 3);
}

TEST(CallsignEncoder, EveryCharacterOfTheAlphabetRoundTrips) {
    const char* alphabet = " /123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0";
    CallsignChannel channel;
    EXPECT_EQ(receive(channel, sequence_of(alphabet)), alphabet);
}

TEST(CallsignDecoder, Cases) {
    {
        CallsignChannel channel;
        EXPECT_EQ(receive(channel, {0, 1, 1, 1}), "<none>");  // nothing before the first '#'
        EXPECT_EQ(receive(channel, {0, 2, 0}), "N");
    }
    {
        CallsignChannel channel;  // a missing separator: four dibits form no character
        EXPECT_EQ(receive(channel, {1, 1, 1, 1, 0, 2, 0}), "");
    }
    {
        CallsignChannel channel;  // the empty callsign reports an empty text
        EXPECT_EQ(receive(channel, sequence_of("")), "");
        char text[80];
        EXPECT_EQ(channel.take_text(text), 1);
    }
    {
        CallsignChannel channel;
        EXPECT_EQ(receive(channel, sequence_of("K-9")), "K 9");
    }
}

TEST(CallsignDecoder, ReceptionStartingMidCycleShowsTheTailFirst) {
    const std::vector<int> seq = sequence_of("DL1ABC");
    std::vector<int> stream(seq.begin() + 9, seq.end());  // joins after "DL"
    CallsignChannel channel;
    EXPECT_EQ(receive(channel, stream), "1ABC");
    EXPECT_EQ(receive(channel, seq), "DL1ABC");
}

TEST(CallsignChannel, NewShorterSequenceStartsAfresh) {
    // The sender may be deep into a long sequence when a short one is set.
    CallsignChannel channel;
    char longer[81] = "ABCDEFGHIJKLMNOP";
    channel.set_text(longer);
    for (int i = 0; i < 40; ++i) channel.next_dibit();
    char shorter[81] = "";
    channel.set_text(shorter);
    std::vector<int> out;
    for (int i = 0; i < 9; ++i) out.push_back(channel.next_dibit());
    EXPECT_EQ(out, (std::vector<int>{0, 2, 0, 0, 2, 0, 0, 2, 0}));
}

TEST(CallsignHostileInput, RandomDibitsAndBytes) {
    std::mt19937 rng(1234);
    CallsignChannel channel;
    char text[80];
    int texts = 0;
    for (int i = 0; i < 3'000'000; ++i) {
        channel.receive_dibit(static_cast<int>(rng() % 4));
        if (i % 1000 == 0) {
            const int length = channel.take_text(text);
            ASSERT_GE(length, 0);
            ASSERT_LE(length, 80);
            if (length > 0) {
                ASSERT_EQ(text[length - 1], '\0');
                ASSERT_EQ(std::strlen(text), static_cast<std::size_t>(length - 1));
                ++texts;
            }
        }
    }
    EXPECT_GT(texts, 0);
    // Out-of-range values are taken modulo 4, never used as indexes.
    for (int d : {-1, 4, 1000, -100000}) channel.receive_dibit(d);

    // 200 characters, bytes of 128 and above: every one is sent (first 80 only) as a space or
    // its own code, nothing overruns.
    char hostile[201];
    for (int i = 0; i < 200; ++i) hostile[i] = static_cast<char>(128 + i % 128);
    hostile[200] = '\0';
    channel.set_text(hostile);
    const std::vector<int> seq = sequence_of(hostile);
    EXPECT_EQ(seq.size(), 80u * 2 + 3);  // 80 spaces
    std::string upper;
    sequence_of("abcdefghijklmnopqrstuvwxyz", &upper);
    EXPECT_EQ(upper, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

}  // namespace
