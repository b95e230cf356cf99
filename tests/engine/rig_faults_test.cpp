// The rig link against a real rigctld (Hamlib's dummy rig) through a proxy that loses an
// unkey, drops the connection, or cuts the rig off, and against a rigctld restarted in the
// middle of a transmission. Whatever happens, the rig's own PTT (asked of rigctld directly)
// ends as the operator left it within a bounded time, and the reports say what happened.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ptt/rig_link.h"
#include "rig_proxy.h"
#include "rigctld.h"

// Hamlib 4.5 does not free two of its buffers when an open fails on a connection cut midway
// (the faults here make that happen): not our code, so LeakSanitizer leaves it out.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libhamlib.so\n";
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tarpo::ptt::RigConfig;
using tarpo::ptt::RigLink;

class RigFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!rigctld.running()) GTEST_SKIP() << "rigctld (libhamlib-utils) cannot run here";
        tarpo::ptt::set_hamlib_trace(std::getenv("RIG_TRACE") != nullptr);
        RigConfig config;
        config.pathname = proxy.address();
        config.timeout_ms = 500;
        link.emplace(config, [this](const std::string& text) {
            std::lock_guard lock(mutex);
            reports += text + "\n";
        });
    }
    // The rig's PTT as rigctld itself says it, waited for up to `limit`; the time it took
    // is printed for the README's figures.
    bool rig_ptt_becomes(const char* value, std::chrono::milliseconds limit) {
        const auto start = Clock::now();
        while (rigctld.rigctl("t") != value) {
            if (Clock::now() > start + limit) return false;
            std::this_thread::sleep_for(50ms);
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        std::printf("rig PTT %s after %lld ms\n", value, static_cast<long long>(ms.count()));
        return true;
    }
    void key() {
        link->request_ptt(true);
        ASSERT_TRUE(rig_ptt_becomes("1", 3s));
    }
    std::string said() {
        std::lock_guard lock(mutex);
        return reports;
    }

    tarpo::test::Rigctld rigctld;
    tarpo::test::RigProxy proxy{rigctld.port()};
    std::mutex mutex;
    std::string reports;
    std::optional<RigLink> link;
};

TEST_F(RigFaults, AnUnkeyThatIsNeverAnsweredIsSentAgain) {
    key();
    proxy.swallow_unkeys(1);
    const auto released = Clock::now();
    link->request_ptt(false);
    EXPECT_TRUE(rig_ptt_becomes("0", 4s)) << said();
    EXPECT_LT(Clock::now() - released, 4s);
    EXPECT_EQ(proxy.unkeys_swallowed(), 1);
    EXPECT_NE(said().find("stopped answering"), std::string::npos) << said();
    EXPECT_NE(said().find("answers again"), std::string::npos) << said();
    EXPECT_TRUE(link->stop());
}

TEST_F(RigFaults, ADroppedConnectionKeepsTheWantedStateEitherWay) {
    key();
    proxy.drop_connections();  // while keyed: the rig stays keyed, and is unkeyed on release
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(rigctld.rigctl("t"), "1");
    link->request_ptt(false);
    EXPECT_TRUE(rig_ptt_becomes("0", 3s)) << said();
    proxy.drop_connections();  // while unkeyed: nothing keys, and the next over works
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(rigctld.rigctl("t"), "0");
    key();
    link->request_ptt(false);
    EXPECT_TRUE(rig_ptt_becomes("0", 3s)) << said();
    EXPECT_TRUE(link->stop());
}

TEST_F(RigFaults, ARigctldRestartedDuringATransmissionIsKeyedAgain) {
    key();
    rigctld.restart();  // the new dummy rig starts unkeyed
    ASSERT_TRUE(rigctld.running());
    EXPECT_TRUE(rig_ptt_becomes("1", 4s)) << said();
    link->request_ptt(false);
    EXPECT_TRUE(rig_ptt_becomes("0", 3s)) << said();
    EXPECT_NE(said().find("stopped answering"), std::string::npos) << said();
    EXPECT_TRUE(link->stop());
}

TEST_F(RigFaults, QuittingWhileTheLinkIsDownWaitsForTheUnkey) {
    key();
    proxy.refuse(true);
    std::this_thread::sleep_for(100ms);  // the proxy has closed the link's connection
    link->request_ptt(false);
    auto stopped = std::async(std::launch::async, [this] { return link->stop(); });
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(rigctld.rigctl("t"), "1");  // nothing got through yet
    proxy.refuse(false);
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(stopped.get()) << said();
    EXPECT_EQ(rigctld.rigctl("t"), "0");
}

TEST_F(RigFaults, QuittingWithTheRigOutOfReachSaysSoAndFails) {
    key();
    proxy.refuse(true);
    std::this_thread::sleep_for(100ms);
    const auto t0 = Clock::now();
    EXPECT_FALSE(link->stop());
    EXPECT_LT(Clock::now() - t0, 6s);  // the 4 s wait and one Hamlib timeout at most
    EXPECT_NE(said().find("did not confirm PTT off"), std::string::npos) << said();
}

}  // namespace
