#include "app/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tarpo::app {

namespace {

// The temporaries in use, for the signal handler: fixed storage, as a handler may not
// allocate. A slot is claimed by setting its flag after its name is in place.
constexpr int max_temporaries = 4;
char temporary_names[max_temporaries][4096];
std::atomic<bool> temporary_used[max_temporaries];
std::atomic<bool> handler_installed{false};

// Every signal whose default ends the process and that a handler may catch: the temporaries
// go first, then the signal ends the process as it would have. SIGXFSZ is apart: it only
// says that a write went past the file-size limit (ulimit -f), and that write then fails with
// EFBIG, which the writer reports as any failed write.
constexpr int fatal_signals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,   SIGALRM,
                                 SIGPIPE, SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL, SIGSYS,    SIGTRAP,
                                 SIGABRT, SIGBUS,    SIGFPE,  SIGILL,  SIGSEGV, SIGSTKFLT, SIGPWR};

void remove_temporaries(int signal_number) {
    for (int i = 0; i < max_temporaries; ++i)
        if (temporary_used[i].load()) ::unlink(temporary_names[i]);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void note_file_size_limit(int) {}

void install_handler() {
    if (handler_installed.exchange(true)) return;
    for (const int s : fatal_signals) {
        // Only where nothing else has chosen: a signal ignored (nohup) stays ignored, a
        // sanitizer's or a debugger's handler stays in place.
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
            (old.sa_flags & SA_SIGINFO))
            continue;
        struct sigaction action {};
        action.sa_handler = remove_temporaries;
        sigemptyset(&action.sa_mask);
        for (const int other : fatal_signals) sigaddset(&action.sa_mask, other);
        sigaction(s, &action, nullptr);
    }
    struct sigaction old {};
    if (sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL &&
        !(old.sa_flags & SA_SIGINFO)) {
        struct sigaction action {};
        action.sa_handler = note_file_size_limit;
        sigemptyset(&action.sa_mask);
        sigaction(SIGXFSZ, &action, nullptr);
    }
}

int claim_slot(const std::string& name) {
    if (name.size() >= sizeof temporary_names[0]) return -1;
    for (int i = 0; i < max_temporaries; ++i) {
        if (temporary_used[i].load()) continue;
        std::memcpy(temporary_names[i], name.c_str(), name.size() + 1);
        temporary_used[i].store(true);
        return i;
    }
    return -1;
}

void release_slot(int& slot) {
    if (slot >= 0) temporary_used[slot].store(false);
    slot = -1;
}

// The file a chain of symbolic links ends at (which may not exist yet); empty for a loop.
std::string follow_links(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) return p.string();
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) return {};
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return {};
}

}  // namespace

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::fail(const std::string& what, std::string& error) {
    if (errno == EFBIG)
        error = path_ + ": file size limit reached";
    else
        error = path_ + ": " + what + (errno ? std::string(": ") + std::strerror(errno) : "");
    discard();
    return false;
}

bool OutputFile::open(const std::string& path, std::string& error) {
    path_ = path;
    errno = 0;
    install_handler();
    if (path == "-") {
        fd_ = ::dup(standard_output_);
        if (fd_ < 0) return fail("cannot write to standard output", error);
        struct stat st {};
        rewritable_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
        return true;
    }
    target_ = follow_links(path);
    if (target_.empty()) return fail("cannot write: a loop of symbolic links", error);
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            errno = 0;
            return fail("cannot write: it is a directory", error);
        }
        // A FIFO or a device: written as it is (a FIFO waits here for its reader).
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) return fail("cannot write", error);
        return true;
    }
    // An interruption between making the temporary and claiming its slot would leave it
    // behind: the signals wait until the handler knows the name.
    sigset_t interruptions{};
    sigset_t before{};
    sigemptyset(&interruptions);
    for (const int s : fatal_signals) sigaddset(&interruptions, s);
    sigprocmask(SIG_BLOCK, &interruptions, &before);
    std::string name = target_ + ".XXXXXX.part";
    fd_ = ::mkstemps(name.data(), 5);
    if (fd_ >= 0) {
        temporary_ = name;
        slot_ = claim_slot(temporary_);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (fd_ < 0) return fail("cannot write", error);
    // mkstemps makes the file private; give it the mode of the file it replaces, or the mode
    // a new file would have had.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, exists ? st.st_mode & 07777 : 0666 & ~mask);
    other_links_ = exists && st.st_nlink > 1 ? static_cast<std::uintmax_t>(st.st_nlink - 1) : 0;
    rewritable_ = true;
    return true;
}

bool OutputFile::flush(std::string& error) {
    std::size_t done = 0;
    while (done < buffered_) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffered_ - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("cannot write the file", error);
        done += static_cast<std::size_t>(n);
    }
    buffered_ = 0;
    return true;
}

bool OutputFile::write(const void* data, std::size_t n, std::string& error) {
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (n > 0) {
        if (buffered_ == buffer_.size() && !flush(error)) return false;
        const std::size_t take = std::min(n, buffer_.size() - buffered_);
        std::memcpy(buffer_.data() + buffered_, bytes, take);
        buffered_ += take;
        bytes += take;
        n -= take;
    }
    return true;
}

bool OutputFile::write_at(off_t offset, const void* data, std::size_t n) {
    if (fd_ < 0 || !rewritable_) return false;
    std::string ignored;
    if (!flush(ignored)) return false;
    return ::pwrite(fd_, data, n, offset) == static_cast<ssize_t>(n);
}

bool OutputFile::commit(std::string& error) {
    if (fd_ < 0) return false;
    errno = 0;
    if (!flush(error)) return false;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail("cannot write the file", error);
    if (!temporary_.empty()) {
        if (::rename(temporary_.c_str(), target_.c_str()) != 0)
            return fail("cannot write the file", error);
        temporary_.clear();
        release_slot(slot_);
        // The rename gave the name a new file: the old one lives on under its other names.
        if (other_links_ > 0)
            std::fprintf(stderr,
                         "%s: replaced under this name only; its %ju other hard link%s still "
                         "name%s the old contents\n",
                         path_.c_str(), other_links_, other_links_ == 1 ? "" : "s",
                         other_links_ == 1 ? "s" : "");
    }
    return true;
}

void OutputFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffered_ = 0;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    release_slot(slot_);
}

bool same_output(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (a == "-" || b == "-") return false;
    std::error_code ec_a, ec_b;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ec_a);
    const std::filesystem::path cb = std::filesystem::weakly_canonical(b, ec_b);
    return (!ec_a && !ec_b && ca == cb) || same_file(a, b);
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (a == "-" || b == "-") return false;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace tarpo::app
