// The confirmed callsign between the worker, which feeds the rule, and the user interface,
// which reads it: texts and their count cross without locks and are never seen half-written.
// Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <complex>
#include <cstring>
#include <string>
#include <thread>

#include "engine/callsign_rule.h"

namespace {

using namespace tarpo;

TEST(CallsignRuleThreads, ConfirmedTextsCrossWhole) {
    modem::CallsignChannel sender;
    modem::CallsignChannel decoder;
    engine::CallsignRule rule;
    char text[81] = "k9";
    sender.set_text(text);
    std::atomic<bool> stop{false};
    // Worker: a clean link, in sync with the squelch open.
    std::thread worker([&] {
        double phase = 0.0;
        while (!stop.load()) {
            rule.symbol(std::polar(1.0, phase));
            phase += 3.141592653589793;
            rule.symbol(std::polar(1.0, phase));
            decoder.receive_dibit(sender.next_dibit());
            rule.frame(decoder, true);
        }
    });
    auto wait_for = [&](const char* expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            char got[81] = {};
            const std::uint32_t count = rule.text_count();
            const int length = rule.take_text(got);
            if (length < 0 || length > 81) return false;
            if (length > 0 && std::strlen(got) + 1 != static_cast<std::size_t>(length))
                return false;
            if (length > 0 && count > 0 && std::string(got) == expected) return true;
            std::this_thread::yield();
        }
        return false;
    };
    for (int round = 0; round < 20; ++round) {
        std::strcpy(text, round % 2 ? "dl1abc/p" : "g4xyz");
        sender.set_text(text);
        ASSERT_TRUE(wait_for(round % 2 ? "DL1ABC/P" : "G4XYZ")) << round;
    }
    stop = true;
    worker.join();
}

}  // namespace
