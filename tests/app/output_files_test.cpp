// Output paths that are not plain new files: a FIFO, a device node, a symbolic link, standard
// output, a full device, the input itself, someone's OUT.part, and an interrupted run.
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <thread>

#include "hostile.h"

namespace {

using namespace hostile;

class Outputs : public Dir {
  protected:
    void SetUp() override {
        Dir::SetUp();
        ASSERT_EQ(run("tx --test-frames --seconds 2 " + path("in.wav")).status, 0);
    }
};

std::string read_all(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

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
        EXPECT_NE(read_all(path("err.txt")).find("through the codec"), std::string::npos);
        const std::string wav = read_all(path("s.wav"));
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

    const std::string before = read_all(path("in.wav"));
    r = run("rx --test-frames --frames " + path("in.wav") + " " + path("in.wav"));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(one_line(r.out)) << r.out;
    fs::create_symlink("in.wav", path("alias.wav"));
    r = run("rx --frames " + path("alias.wav") + " " + path("in.wav") + " " + path("o.wav"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_all(path("in.wav")), before);
}

TEST_F(Outputs, SomeoneElsesPartFileIsLeftAlone) {
    write_bytes(dir / "out.wav.part", "mine");
    const Result r = run("codec " + path("in.wav") + " " + path("out.wav"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_all(path("out.wav.part")), "mine");
    EXPECT_EQ((std::vector<std::string>{"in.wav", "out.wav", "out.wav.part"}), names());
}

TEST_F(Outputs, AnInterruptedRunLeavesNothingBehind) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
        const pid_t child = fork();
        if (child == 0) {
            const std::string out = path("long.wav");
            const std::string tool = cli();
            execl(tool.c_str(), tool.c_str(), "tx", "--test-frames", "--seconds", "3600",
                  out.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the temporary is there (at once where the output is written as the
        // signal is made, at the end where it is made in memory first), then interrupt.
        bool seen = false;
        for (int i = 0; i < 60000 && !seen; ++i) {
            seen = names().size() > 1;
            if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ::kill(child, signal_number);
        EXPECT_TRUE(seen);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number);
        EXPECT_EQ(names(), std::vector<std::string>{"in.wav"});
    }
}

}  // namespace
