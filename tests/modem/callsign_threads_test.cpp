// The callsign channel between the user-interface thread and the worker: new callsigns and
// received texts cross without locks and must never be seen half-written. Run under
// ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "modem/callsign.h"

namespace {

using tarpo::modem::CallsignChannel;

TEST(CallsignThreads, SequencesAndTextsCrossWhole) {
    CallsignChannel sender;
    CallsignChannel receiver;
    char first[81] = "AAAA";
    sender.set_text(first);
    std::atomic<bool> stop{false};

    // Worker: sends dibits from `sender` straight into `receiver`, as a perfect link would.
    std::thread worker([&] {
        while (!stop.load()) {
            for (int i = 0; i < 100; ++i) receiver.receive_dibit(sender.next_dibit());
        }
    });
    // User interface: switches between two callsigns of different lengths and polls the
    // received text until the new one has arrived whole. Every text seen on the way is
    // zero-terminated at its reported length.
    auto wait_for = [&](const char* expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            char got[80];
            const int length = receiver.take_text(got);
            if (length < 0 || length > 80) return false;
            if (length > 0) {
                if (std::strlen(got) + 1 != static_cast<std::size_t>(length)) return false;
                if (std::string(got) == expected) return true;
            }
            std::this_thread::yield();
        }
        return false;
    };
    for (int round = 0; round < 40; ++round) {
        char text[81];
        std::strcpy(text, round % 2 ? "dl1abc/p" : "k9");
        sender.set_text(text);
        ASSERT_TRUE(wait_for(round % 2 ? "DL1ABC/P" : "K9")) << round;
    }
    stop = true;
    worker.join();
}

}  // namespace
