// The text of a small settings file of the working directory (radio.txt, receiver.txt,
// operator.txt, sc_names.txt, txport.path, and heard.csv when it is shown), read the safe way:
// only a regular file (or a link to one) is opened, without waiting (a FIFO would block the
// open until a writer came), and reading stops at a size limit (a link to /dev/zero or an
// endless file is cut there). Shared by every floor that reads such a file.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "external/settings_file.h"

namespace tarpo {

// Far more than any settings file of ours needs (they are a few hundred bytes).
inline constexpr std::size_t settings_size_limit = 65536;

// The first `limit` bytes of `path`, or with `tail` its last `limit` bytes (where an
// appended log keeps its newest lines); nothing when it is missing or not a regular file.
inline std::optional<std::string> read_settings_text(const char* path,
                                                     std::size_t limit = settings_size_limit,
                                                     bool tail = false) {
    const int fd = open_settings_file(path);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (tail && ::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) > limit)
        ::lseek(fd, st.st_size - static_cast<off_t>(limit), SEEK_SET);
    std::string text(limit, '\0');
    std::size_t length = 0;
    while (length < limit) {
        const ssize_t n = ::read(fd, text.data() + length, limit - length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        length += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(length);
    return text;
}

// One line on standard error about a settings file, "FILE: WHAT", for a value that could not
// be used as it stood (what was used instead belongs in WHAT).
inline void settings_note(const std::string& file, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), what.c_str());
    std::fflush(stderr);
}

// The last part of a path, as notes name the file.
inline std::string settings_file_name(const char* path) {
    const std::string p(path);
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// As read_settings_text, and said once on standard error when `path` names something that is
// not a regular file (it is then not read: the defaults stand), or a file cut at the limit.
inline std::optional<std::string> load_settings_text(const char* path,
                                                     std::size_t limit = settings_size_limit) {
    std::optional<std::string> text = read_settings_text(path, limit);
    struct stat st {};
    if (!text && ::stat(path, &st) == 0)
        settings_note(settings_file_name(path),
                      "not a regular file (a FIFO, a device or a "
                      "directory); not read, the defaults stand");
    if (text && text->size() == limit)
        settings_note(settings_file_name(path),
                      "longer than " + std::to_string(limit / 1024) + " KiB; read up to there");
    return text;
}

// The notes of one reading of a file, each "FILE: NOTE", at most five of them and then how many
// more there were, so that a file of garbage does not flood the terminal.
inline void say_settings_notes(const std::string& file, const std::vector<std::string>& notes) {
    constexpr std::size_t most = 5;
    for (std::size_t i = 0; i < notes.size() && i < most; ++i) settings_note(file, notes[i]);
    if (notes.size() > most)
        settings_note(
            file, "and " + std::to_string(notes.size() - most) + " more lines like these; skipped");
}

}  // namespace tarpo
