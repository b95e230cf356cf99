// An output file that is either complete or absent. A regular file (or a path not there yet)
// is written under a unique temporary name beside it and renamed over it at the end; a symbolic
// link is followed, and its target is replaced the same way. Anything else a path can name (a
// FIFO, a character device, standard output as "-") is written directly, as it cannot be
// replaced. The temporary is removed when the work fails, when the object goes away without
// commit(), and when the process is ended by any signal it can catch (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGUSR1, SIGALRM, SIGPIPE, ...). A write past the file-size limit (ulimit -f) is a
// failed write ("file size limit reached"), not the end of the process. A replaced file's
// mode is kept; when it had other hard links, commit() says on standard error that they keep
// the old contents. An existing file of another name, such as an "OUT.part" of the user's, is
// never touched.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarpo::app {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    bool open(const std::string& path, std::string& error);
    // Buffered; every failure of the system (a full disk, /dev/full) is reported.
    bool write(const void* data, std::size_t n, std::string& error);
    // Writes at a position of the output. False where the output cannot be rewritten (a
    // pipe, a terminal); nothing is reported then.
    bool write_at(off_t offset, const void* data, std::size_t n);
    // Flushes, closes and renames the temporary over the target.
    bool commit(std::string& error);
    // Abandons the output: the temporary is removed.
    void discard();
    // Whether the output is a regular file that write_at can patch.
    bool rewritable() const { return rewritable_; }
    // Where "-" writes: the standard output as the process found it, when main() has moved
    // the messages meant for standard output to standard error.
    static void set_standard_output(int fd) { standard_output_ = fd; }

  private:
    bool flush(std::string& error);
    bool fail(const std::string& what, std::string& error);

    std::string path_;       // as the user named it, for messages
    std::string target_;     // after following symbolic links
    std::string temporary_;  // empty when writing directly
    static inline int standard_output_ = 1;
    int fd_ = -1;
    int slot_ = -1;  // in the signal handler's list of temporaries
    bool rewritable_ = false;
    std::uintmax_t other_links_ = 0;  // of the file replaced
    std::array<char, 65536> buffer_{};
    std::size_t buffered_ = 0;
};

// Whether two paths name the same existing file (after links); false when either is missing.
bool same_file(const std::string& a, const std::string& b);
// Whether two output paths would write the same file: the same name ("-" twice included), the
// same path once links and ".." are resolved (whether or not the file exists yet), or the
// same existing file.
bool same_output(const std::string& a, const std::string& b);

}  // namespace tarpo::app
