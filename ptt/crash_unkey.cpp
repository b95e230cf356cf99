#include "ptt/crash_unkey.h"

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

namespace tarpo::ptt {

namespace {

constexpr std::array<int, 5> fatal_signals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

std::atomic<void (*)()> crash_unkey{nullptr};
std::array<struct sigaction, fatal_signals.size()> previous{};
// A stack of its own, so that a stack overflow still reaches the handler.
alignas(16) std::array<char, 64 * 1024> handler_stack{};

void say(const char* text) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

void on_crash(int sig, siginfo_t* info, void*) {
    // The handler before ours back first: a fault in what follows goes there, not here again.
    for (std::size_t i = 0; i < fatal_signals.size(); ++i)
        if (fatal_signals[i] == sig) sigaction(sig, &previous[i], nullptr);
    if (void (*unkey)() = crash_unkey.load()) unkey();
    const char* name = sigabbrev_np(sig);
    say("tarpo: crashed (SIG");
    say(name ? name : "?");
    say("); the PTT lines were dropped. Where:\n");
    std::array<void*, 64> frames{};
    backtrace_symbols_fd(frames.data(), backtrace(frames.data(), frames.size()), STDERR_FILENO);
    // A fault repeats when the handler returns and reaches the handler before ours; a signal
    // that was sent (abort, kill) is sent again.
    if (info->si_code <= 0 || sig == SIGABRT) raise(sig);
}

}  // namespace

void install_crash_unkey(void (*unkey)()) {
    crash_unkey.store(unkey);
    // The first backtrace loads the unwinder, which a signal handler must not have to do.
    std::array<void*, 1> warm{};
    backtrace(warm.data(), 1);
    stack_t stack{};
    stack.ss_sp = handler_stack.data();
    stack.ss_size = handler_stack.size();
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_sigaction = on_crash;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (std::size_t i = 0; i < fatal_signals.size(); ++i)
        sigaction(fatal_signals[i], &action, &previous[i]);
}

}  // namespace tarpo::ptt
