// The callsign channel between the user-interface thread and the worker: new callsigns and
// received texts cross without locks and must never be seen half-written. Run under
// ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "voice/callsign.h"

namespace {

using tarpo::voice::CallsignChannel;

TEST(CallsignThreads, SequencesAndTextsCrossWhole) {
    CallsignChannel sender;
    CallsignChannel receiver;
    char first[81] = "AAAA";
    sender.callsign_set(first);
    std::atomic<bool> stop{false};

    // Worker: sends dibits from `sender` straight into `receiver`, as a perfect link would.
    std::thread worker([&] {
        while (!stop.load()) {
            for (int i = 0; i < 100; ++i)
                receiver.callsign_receive_dibit(sender.callsign_next_dibit());
        }
    });
    // User interface: changes the callsign between two texts of different lengths and reads
    // the received text; every text seen must be one of the callsigns whole, or a tail of
    // one right after a change.
    int whole = 0;
    for (int round = 0; round < 4000; ++round) {
        char text[81];
        std::strcpy(text, round % 2 ? "dl1abc/p" : "k9");
        sender.callsign_set(text);
        char got[80];
        const int length = receiver.callsign_take_text(got);
        ASSERT_GE(length, 0);
        ASSERT_LE(length, 80);
        if (length > 0) {
            ASSERT_EQ(std::strlen(got) + 1, static_cast<std::size_t>(length));
            const std::string s(got);
            whole += s == "DL1ABC/P" || s == "K9" || s == "AAAA";
        }
        std::this_thread::yield();
    }
    stop = true;
    worker.join();
    EXPECT_GT(whole, 0);
}

}  // namespace
