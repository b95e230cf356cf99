#include "engine/recorder.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace tarpo::engine {

Recorder::~Recorder() {
    drop();
}

std::string recording_name(const std::string& stamp, const std::string& callsign) {
    std::string call;
    for (const unsigned char c : callsign) {
        if (std::isalnum(c)) call += static_cast<char>(std::toupper(c));
        if ((c == '/' || c == '-') && !call.empty() && call.back() != '-') call += '-';
    }
    while (!call.empty() && call.back() == '-') call.pop_back();
    if (call.empty()) call = "NOCALL";
    return stamp + "-" + call + ".wav";
}

namespace {

// "NAME.wav" with "-n" before the extensions for n > 1: NAME-2.wav.
std::filesystem::path numbered(const std::filesystem::path& path, int n) {
    if (n <= 1) return path;
    std::string name = path.filename().string();
    const std::size_t dot = name.find('.');
    name.insert(dot == std::string::npos ? name.size() : dot, "-" + std::to_string(n));
    return path.parent_path() / name;
}

constexpr int max_names = 100;

// A new regular file at `path` or, when something (anything) has that name, at the next free
// numbered name; the descriptor, or -1.
int create_fresh(std::filesystem::path& path) {
    const std::filesystem::path base = path;
    for (int n = 1; n <= max_names; ++n) {
        path = numbered(base, n);
        const int fd = ::open(
            path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Gives `from` the name `to`, or the next free numbered one, never replacing anything there:
// a hard link, which fails when the name is taken; where the file system has none, a rename
// after looking. The name given, or empty.
std::filesystem::path name_fresh(const std::filesystem::path& from,
                                 const std::filesystem::path& to) {
    for (int n = 1; n <= max_names; ++n) {
        const std::filesystem::path name = numbered(to, n);
        if (::link(from.c_str(), name.c_str()) == 0) {
            ::unlink(from.c_str());
            return name;
        }
        if (errno == EEXIST) continue;
        struct stat st {};
        if (::lstat(name.c_str(), &st) == 0) continue;
        if (::rename(from.c_str(), name.c_str()) == 0) return name;
        return {};
    }
    return {};
}

}  // namespace

bool Recorder::start(const std::filesystem::path& directory, std::int64_t utc_ms,
                     std::string& error) {
    drop();
    if (utc_ms == refused_ms_) return false;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char stamp[32];
    stamp_.assign(stamp, std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &t));
    part_ = directory / (stamp_ + ".wav.part");
    failed_ = false;
    const int fd = create_fresh(part_);
    if (fd < 0) {
        refused_ms_ = utc_ms;
        error = part_.string() + ": cannot write: " + std::strerror(errno) +
                "; this reception is not recorded";
        return false;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        refused_ms_ = utc_ms;
        ::unlink(part_.c_str());
        error = part_.string() + ": cannot write: " + sf_strerror(nullptr) +
                "; this reception is not recorded";
        return false;
    }
    return true;
}

void Recorder::write(const std::int16_t* samples, std::size_t n) {
    if (file_ == nullptr || n == 0) return;
    const auto count = static_cast<sf_count_t>(n);
    if (sf_write_short(file_, samples, count) != count) failed_ = true;
}

void Recorder::close_file() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
}

std::filesystem::path Recorder::keep(const std::string& callsign, std::string& error) {
    if (file_ == nullptr) return {};
    close_file();
    const std::filesystem::path wanted = part_.parent_path() / recording_name(stamp_, callsign);
    const std::filesystem::path given =
        failed_ ? std::filesystem::path() : name_fresh(part_, wanted);
    if (given.empty()) {
        ::unlink(part_.c_str());
        error = wanted.string() + ": the recording could not be written";
        return {};
    }
    struct stat st {};
    if (given != wanted && ::stat(wanted.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        error = wanted.string() + " is not a regular file; the recording is " +
                given.filename().string();
    return given;
}

void Recorder::drop() {
    if (file_ == nullptr) return;
    close_file();
    std::error_code ec;
    std::filesystem::remove(part_, ec);
}

}  // namespace tarpo::engine
