#include "ptt/crash_unkey.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

void mark_unkeyed() {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, "unkeyed\n", 8);
}

// The process still ends by a signal or with a failure status (a sanitizer's handler, when
// there is one, ends it its own way), never as a success.
bool ended_badly(int status) {
    return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

// A page that may not be touched: a store to it is a real fault (no sanitizer sees it first).
volatile int* forbidden_page() {
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return static_cast<volatile int*>(page);
}

}  // namespace

TEST(CrashUnkey, AnAbortOrAFaultDropsThePttFirstAndStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            tarpo::ptt::install_crash_unkey(mark_unkeyed);
            std::abort();
        },
        ended_badly, "unkeyed\ntarpo: crashed \\(SIGABRT\\); the PTT lines were dropped");
    EXPECT_EXIT(
        {
            tarpo::ptt::install_crash_unkey(mark_unkeyed);
            *forbidden_page() = 1;
        },
        ended_badly, "unkeyed\ntarpo: crashed \\(SIGSEGV\\)");
}
