// Output paths that are not plain new files: a FIFO, a device node, a symbolic link, standard
// output, a full device, the input itself, someone's OUT.part, and an interrupted run.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <functional>
#include <thread>

#include "hostile.h"
#include "tests/support/file_text.h"

namespace {

using namespace hostile;

class Outputs : public Dir {
  protected:
    void SetUp() override {
        Dir::SetUp();
        ASSERT_EQ(run("tx --test-frames --seconds 2 " + path("in.wav")).status, 0);
    }
};

TEST_F(Outputs, FifosDevicesAndLinksKeepTheirKind) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    FILE* reader =
        popen(("timeout 20 cat " + path("fifo") + " > " + path("copy.wav")).c_str(), "r");
    Result r = run("rx " + path("in.wav") + " " + path("fifo"));
    pclose(reader);
    EXPECT_EQ(r.status, 0) << r.out;
    struct stat st {};
    ASSERT_EQ(::lstat(path("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(fs::file_size(path("copy.wav")), 44u + 2 * 96000);

    fs::create_symlink("target.wav", path("link.wav"));
    r = run("codec " + path("in.wav") + " " + path("link.wav"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::is_symlink(path("link.wav")));
    EXPECT_EQ(fs::file_size(path("target.wav")), 44u + 2 * 16000);

    // A private null device where the system allows making one (root).
    if (::mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        r = run("rx " + path("in.wav") + " " + path("null"));
        EXPECT_EQ(r.status, 0) << r.out;
        ASSERT_EQ(::lstat(path("null").c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
}

TEST_F(Outputs, StandardOutputCarriesTheSoundAndNothingElse) {
    // Into a file (whose header gets its sizes) and into a pipe (the sizes of a stream).
    for (const char* to : {" > ", " | cat > "}) {
        const std::string command =
            cli() + " codec " + path("in.wav") + " - 2> " + path("err.txt") + to + path("s.wav");
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_NE(tarpo::test::slurp(path("err.txt")).find("through the codec"), std::string::npos);
        const std::string wav = tarpo::test::slurp(path("s.wav"));
        ASSERT_EQ(wav.size(), 44u + 2 * 16000) << to;
        EXPECT_EQ(wav.substr(0, 4), "RIFF");
        EXPECT_EQ(wav.substr(36, 4), "data");
        const std::string size = std::string(to) == " > "
                                     ? wav_bytes(8000, std::vector<double>(16000)).substr(40, 4)
                                     : std::string(4, '\xff');
        EXPECT_EQ(wav.substr(40, 4), size) << to;
    }
}

TEST_F(Outputs, FailedWritesAreFailuresAndTheInputIsNeverOverwritten) {
    Result r = run("rx --test-frames --frames /dev/full " + path("in.wav"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(one_line(r.out.substr(r.out.find("tarpo-cli"))));
    EXPECT_NE(r.out.find("No space left"), std::string::npos) << r.out;
    r = run("tx --test-frames --seconds 1 /dev/full");
    EXPECT_EQ(r.status, 1) << r.out;

    const std::string before = tarpo::test::slurp(path("in.wav"));
    r = run("rx --test-frames --frames " + path("in.wav") + " " + path("in.wav"));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(one_line(r.out)) << r.out;
    fs::create_symlink("in.wav", path("alias.wav"));
    r = run("rx --frames " + path("alias.wav") + " " + path("in.wav") + " " + path("o.wav"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(tarpo::test::slurp(path("in.wav")), before);
}

TEST_F(Outputs, SomeoneElsesPartFileIsLeftAlone) {
    write_bytes(dir / "out.wav.part", "mine");
    const Result r = run("codec " + path("in.wav") + " " + path("out.wav"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(tarpo::test::slurp(path("out.wav.part")), "mine");
    EXPECT_EQ((std::vector<std::string>{"in.wav", "out.wav", "out.wav.part"}), names());
}

// Runs the tool in a child with limits of its own (no core files; `file_limit` bytes, 0: none),
// standard output and standard error into `out`. The wait status.
int run_child(const std::vector<std::string>& args, rlim_t file_limit, std::string* out,
              int signal_number, const std::function<bool()>& ready) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        const rlimit no_core{0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);
        if (file_limit) {
            const rlimit limit{file_limit, file_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::dup2(pipe_fds[1], 1);
        ::dup2(pipe_fds[1], 2);
        ::close(pipe_fds[0]);
        const std::string tool = cli();
        std::vector<char*> argv{const_cast<char*>(tool.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        _exit(127);
    }
    ::close(pipe_fds[1]);
    if (signal_number) {
        // Wait until the temporary is there, then interrupt.
        bool seen = false;
        for (int i = 0; i < 30000 && !seen; ++i) {
            seen = ready();
            if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_TRUE(seen);
        ::kill(child, signal_number);
    }
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0)
        if (out) out->append(buffer, static_cast<std::size_t>(n));
    ::close(pipe_fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST_F(Outputs, AnInterruptedRunLeavesNothingBehind) {
    // Every signal that ends a process and can be caught; the process still ends by it.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                    SIGVTALRM, SIGPROF, SIGXCPU, SIGPIPE}) {
        const int status = run_child({"tx", "--test-frames", "--seconds", "3600", path("long.wav")},
                                     0, nullptr, signal_number, [&] { return names().size() > 1; });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
        EXPECT_EQ(names(), std::vector<std::string>{"in.wav"}) << signal_number;
    }
}

TEST_F(Outputs, TheFileSizeLimitIsAFailedWriteWithAReason) {
    // ulimit -f: SIGXFSZ at the first write past the limit, then EFBIG.
    for (const char* verb : {"tx", "channel"}) {
        std::string out;
        std::vector<std::string> args{verb, path("in.wav"), path("big.wav")};
        if (std::string(verb) == "tx")
            args = {"tx", "--test-frames", "--seconds", "60", path("big.wav")};
        const int status = run_child(args, 100000, &out, 0, {});
        ASSERT_TRUE(WIFEXITED(status)) << verb << " died by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1) << out;
        EXPECT_TRUE(one_line(out)) << out;
        EXPECT_NE(out.find("big.wav: file size limit reached"), std::string::npos) << out;
        EXPECT_EQ(names(), std::vector<std::string>{"in.wav"});
    }
}

TEST_F(Outputs, StandardOutputCarriesOneThingOnly) {
    const std::string command = cli() + " rx --frames - " + path("in.wav") + " - > " +
                                path("stdout.bin") + " 2> " + path("err.txt");
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_EQ(fs::file_size(path("stdout.bin")), 0u);
    const std::string err = tarpo::test::slurp(path("err.txt"));
    EXPECT_TRUE(one_line(err)) << err;
    EXPECT_NE(err.find("cannot both be standard output"), std::string::npos) << err;
}

TEST_F(Outputs, FramesMayNotNameTheOutputEvenBeforeItExists) {
    for (const std::string& frames : {path("new.wav"), (dir / "." / "new.wav").string()}) {
        const Result r =
            run("rx --frames " + frames + " " + path("in.wav") + " " + path("new.wav"));
        EXPECT_EQ(r.status, 2) << frames;
        EXPECT_TRUE(one_line(r.out)) << r.out;
        EXPECT_NE(r.out.find("--frames names the output file"), std::string::npos) << r.out;
        EXPECT_EQ(names(), std::vector<std::string>{"in.wav"});
    }
}

TEST_F(Outputs, AReplacedFileKeepsItsModeAndHardLinksAreSaid) {
    write_bytes(dir / "out.wav", "old");
    ASSERT_EQ(::chmod(path("out.wav").c_str(), 0600), 0);
    Result r = run("codec " + path("in.wav") + " " + path("out.wav"));
    ASSERT_EQ(r.status, 0) << r.out;
    struct stat st {};
    ASSERT_EQ(::stat(path("out.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(r.out.find("hard link"), std::string::npos) << r.out;

    ASSERT_EQ(::link(path("out.wav").c_str(), path("other.wav").c_str()), 0);
    const std::string before = tarpo::test::slurp(path("other.wav"));
    ASSERT_EQ(::chmod(path("out.wav").c_str(), 0640), 0);
    r = run("codec " + path("in.wav") + " " + path("out.wav"));
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(::stat(path("out.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(
        r.out.find(path("out.wav") + ": replaced under this name only; its 1 other hard link still "
                                     "names the old contents\n"),
        0u)
        << r.out;
    EXPECT_EQ(tarpo::test::slurp(path("other.wav")), before);
}

}  // namespace
