// PTT keying: the port choice file, the Com list from a fake /dev and /sys tree, the keying
// order and the lines at open on a fake port modelled on Linux, the loop device's PTT taking
// precedence, and the tty backend on a pseudo-terminal (which has no modem lines, so only its
// settings are checked; no real serial port is ever opened).
#include "ptt/ptt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ptt/serial_lines.h"
#include "ptt/serial_ports.h"
#include "sound/loop_library.h"
#include "tests/support/serial_fake.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using tarpo::ptt::com_port_device;
using tarpo::ptt::com_port_entries;
using tarpo::ptt::FakeSerialLines;
using tarpo::ptt::PttPort;
using tarpo::ptt::serial_port_list;
using tarpo::ptt::SerialPortDirs;
using tarpo::ptt::TtySerialLines;
using tarpo::sound::LoopLibrary;
using tarpo::sound::LoopOutputQuery;
using Log = std::vector<std::string>;

// A /dev and /sys tree of serial ports in a temporary directory.
class TempTree : public tarpo::test::TempDir {
  public:
    TempTree() : TempDir("tarpo-ptt") {}
    // A UART as the kernel shows it in /sys/class/tty, and its node in /dev.
    void uart(int n, bool driver, const std::string& type) const {
        const std::string name = "ttyS" + std::to_string(n);
        if (driver) make_dirs("sys/class/tty/" + name + "/device/driver");
        write("sys/class/tty/" + name + "/type", type + "\n");
        write("dev/" + name);
    }
    SerialPortDirs dirs() const { return {path("dev").string(), path("sys").string()}; }
};

struct FixedOutput : LoopOutputQuery {
    bool loop = false;
    bool output_is_loop() const override { return loop; }
};

// A machine with two USB adapters (listed in name order, not creation order), a real UART 0
// and 10, a phantom UART 1 (type 0) and a UART 2 without a driver.
class Ptt : public ::testing::Test {
  protected:
    void SetUp() override {
        tree_.write("dev/serial/by-id/usb-Zeta_Serial-if00");
        tree_.write("dev/serial/by-id/usb-Acme_UART_A1-if00");
        tree_.uart(0, true, "4");
        tree_.uart(1, true, "0");
        tree_.uart(2, false, "4");
        tree_.uart(10, true, "4");
        tree_.write("sys/class/tty/ttyUSB0/type", "4");
        tree_.make_dirs("sys/class/tty/ttyUSB0/device/driver");
        for (int com = 1; com <= 4; ++com) fake_.add_port(device(com));
    }
    std::string device(int com) const {
        static const char* names[] = {"dev/serial/by-id/usb-Acme_UART_A1-if00",
                                      "dev/serial/by-id/usb-Zeta_Serial-if00", "dev/ttyS0",
                                      "dev/ttyS10"};
        return tree_.path(names[com - 1]).string();
    }
    PttPort make() { return PttPort(loop_, output_, fake_, tree_.dirs(), txport()); }
    std::string txport() const { return tree_.path("txport.bin").string(); }

    TempTree tree_;
    FakeSerialLines fake_;
    LoopLibrary loop_;  // not loaded: the serial path
    FixedOutput output_;
};

TEST_F(Ptt, ComPortsAreTheUsbAdaptersByNameThenThePresentUarts) {
    const std::vector<std::string> expected = {device(1), device(2), device(3), device(4)};
    EXPECT_EQ(serial_port_list(tree_.dirs()), expected);
    const auto entries = com_port_entries(tree_.dirs());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(entries[i].name, "Com " + std::to_string(i + 1));
        EXPECT_EQ(entries[i].device, i < 4 ? expected[i] : "");
    }
    EXPECT_EQ(com_port_device('4', tree_.dirs()), device(4));
    for (const char c : {'0', '5', '8', '9', '\0', 'a', '\n'})
        EXPECT_EQ(com_port_device(c, tree_.dirs()), "") << int(c);
}

TEST_F(Ptt, ComListIsEmptyWithoutTheDirectoriesAndStopsAtEight) {
    EXPECT_TRUE(serial_port_list({"/nonexistent/dev", "/nonexistent/sys"}).empty());
    TempTree many;
    for (int i = 0; i < 12; ++i) many.write("dev/serial/by-id/usb-" + std::to_string(100 + i));
    const auto entries = com_port_entries(many.dirs());
    EXPECT_EQ(entries[7].device, many.path("dev/serial/by-id/usb-107").string());
}

TEST_F(Ptt, OpeningClearsTheLinesTheKernelRaisedAndKeyingGoesRtsThenDtr) {
    PttPort ptt = make();
    ptt.open_port('3');
    EXPECT_EQ(fake_.log(), (Log{"open " + device(3), "clear", "configure", "clear"}));
    EXPECT_FALSE(fake_.any_raised());

    fake_.clear_log();
    ptt.key();
    EXPECT_EQ(fake_.log(), (Log{"rts 1", "dtr 1"}));
    EXPECT_TRUE(fake_.raised(device(3)));
    fake_.clear_log();
    ptt.unkey();
    EXPECT_EQ(fake_.log(), (Log{"rts 0", "dtr 0"}));
    EXPECT_FALSE(fake_.any_raised());
}

TEST_F(Ptt, AFailedOpenLeavesNoPortAndNothingRaised) {
    FakeSerialLines empty;  // no device opens
    PttPort ptt(loop_, output_, empty, tree_.dirs(), txport());
    ptt.open_port('1');
    EXPECT_FALSE(ptt.port_open());
    ptt.key();
    EXPECT_EQ(empty.log(), (Log{"open " + device(1) + " failed"}));

    // Keyed on a port whose settings were refused (so no hang-up on close), then switched to
    // one that fails to open: the old port's lines are dropped all the same.
    FakeSerialLines one;
    one.add_port(device(1));
    one.fail_configure(true);
    PttPort keyed(loop_, output_, one, tree_.dirs(), txport());
    keyed.open_port('1');
    keyed.key();
    ASSERT_TRUE(one.any_raised());
    keyed.open_port('2');
    EXPECT_FALSE(keyed.port_open());
    EXPECT_FALSE(one.any_raised());
}

// Any sequence of port changes (the user-interface thread) and keying (the worker), with the
// port's settings refused at random (no hang-up on close then), must leave every line of every
// port low after each open and each unkey, and raise only the open port's lines on a key. This
// covers None while keyed, the same port chosen again, choices that open nothing ('9', 'a',
// NUL, '5' .. '8' with four ports here) and keying without a port.
TEST_F(Ptt, RandomSequencesNeverLeaveALineRaisedWhereTheyShouldNot) {
    PttPort ptt = make();
    std::mt19937 rng(1303);
    const std::string choices("0123456789a\0", 12);
    for (int step = 0; step < 5000; ++step) {
        fake_.fail_configure(rng() % 3 == 0);
        switch (rng() % 3) {
            case 0:
                ptt.open_port(choices[rng() % choices.size()]);
                ASSERT_FALSE(fake_.any_raised()) << "step " << step;
                break;
            case 1:
                ptt.key();
                for (int com = 1; com <= 4; ++com)
                    ASSERT_EQ(fake_.raised(device(com)), fake_.current() == device(com))
                        << "step " << step;
                break;
            default:
                ptt.unkey();
                ASSERT_FALSE(fake_.any_raised()) << "step " << step;
        }
    }
}

// PttPort::set, as the worker keys: the loop device when it is the output, else the serial port.
std::vector<int> set_ptt_calls;
void record_set_ptt(int on) {
    set_ptt_calls.push_back(on);
}

TEST_F(Ptt, TheLoopDeviceTakesThePttOnlyWhenItIsTheOutput) {
    struct Case {
        bool loaded, loop_output, taken;
    };
    for (const Case c : {Case{false, false, false}, Case{false, true, false},
                         Case{true, false, false}, Case{true, true, true}}) {
        LoopLibrary loop;
        if (c.loaded) {
            ASSERT_TRUE(loop.load(TARPO_LOOP_PATH));
            loop.set_ptt = record_set_ptt;  // observe the calls instead of sending datagrams
        }
        FixedOutput output;
        output.loop = c.loop_output;
        FakeSerialLines lines;
        lines.add_port(device(1));
        PttPort ptt(loop, output, lines, tree_.dirs(), txport());
        ptt.open_port('1');
        lines.clear_log();
        set_ptt_calls.clear();

        ptt.set(true);
        const bool serial_keyed = lines.raised(device(1));
        ptt.set(false);

        const std::vector<int> expected_calls =
            c.taken ? std::vector<int>{1, 0} : std::vector<int>{};
        EXPECT_EQ(set_ptt_calls, expected_calls) << c.loaded << c.loop_output;
        EXPECT_EQ(serial_keyed, !c.taken);
        // With the loop device as output the serial port, open as it is, is not touched.
        EXPECT_EQ(lines.log().empty(), c.taken);
        EXPECT_FALSE(lines.any_raised());
    }
}

TEST_F(Ptt, TxportRoundTripsEveryChoiceInTheExactFormat) {
    PttPort ptt = make();
    for (char c = '0'; c <= '8'; ++c) {
        ptt.save_choice(c);
        EXPECT_EQ(tree_.read("txport.bin"), std::string(1, c) + " comport\n");
        EXPECT_EQ(ptt.load_choice(), c);
    }
    // A load at start opens the saved port with its lines off.
    ptt.save_choice('3');
    ptt.open_port(ptt.load_choice());
    EXPECT_EQ(fake_.current(), device(3));
    EXPECT_FALSE(fake_.any_raised());
}

TEST_F(Ptt, TxportMissingShortOrHostileFiles) {
    PttPort ptt = make();
    EXPECT_EQ(ptt.load_choice(), '\0');  // missing
    const std::pair<std::string, char> cases[] = {
        {"", '\0'},             // empty
        {"3", '3'},             // no word
        {"3comport", '3'},      // no space
        {" 3 comport\n", ' '},  // no white space is skipped before it
        {"\n3 comport\n", '\n'},
        {"9 comport\n", '9'},                           // out of range: opens nothing
        {"7 " + std::string(100000, 'x') + " y", '7'},  // a word far longer than the scratch
        {std::string("\xff\0\x01garbage", 10), '\xff'},
    };
    for (const auto& [text, choice] : cases) {
        tree_.write("txport.bin", text);
        EXPECT_EQ(ptt.load_choice(), choice) << text.substr(0, 20);
        ptt.open_port(ptt.load_choice());
        EXPECT_EQ(ptt.port_open(), choice >= '1' && choice <= '4');
    }
    // An unwritable file: nothing happens, nothing is reported.
    PttPort nowhere(loop_, output_, fake_, tree_.dirs(), tree_.path("no/such/dir/txport.bin"));
    nowhere.save_choice('2');
    EXPECT_EQ(nowhere.load_choice(), '\0');
}

// ---------------------------------------------------------------------------------------
// The tty backend on a pseudo-terminal.

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            if (const char* name = ::ptsname(master_)) slave_ = name;
    }
    ~PseudoTerminal() {
        if (master_ >= 0) ::close(master_);
    }
    bool ok() const { return !slave_.empty(); }
    const std::string& slave() const { return slave_; }

  private:
    int master_ = -1;
    std::string slave_;
};

TEST(TtySerialLines, OnAPseudoTerminalFlowControlGoesOffAndHangUpOnCloseOn) {
    PseudoTerminal pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminals here";
    // Hardware and software flow control on and a speed of 4800 Bd, set from outside.
    {
        const int fd = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        t.c_cflag |= CRTSCTS;
        t.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
        t.c_iflag |= IXON | IXOFF;
        ::cfsetospeed(&t, B4800);
        ::cfsetispeed(&t, B4800);
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        // Kept open so that the pty keeps its settings between the openers.
        TtySerialLines lines;
        ASSERT_TRUE(lines.open(pty.slave()));
        EXPECT_EQ(tarpo::ptt::ptt_signal_fd(), lines.fd());
        EXPECT_TRUE(lines.configure());
        termios after{};
        ASSERT_EQ(::tcgetattr(lines.fd(), &after), 0);
        EXPECT_EQ(after.c_cflag & CRTSCTS, 0u);
        EXPECT_NE(after.c_cflag & HUPCL, 0u);
        EXPECT_EQ(after.c_iflag & (IXON | IXOFF), 0u);
        EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B4800));  // left as found
        // No modem lines on a pty: the changes fail, silently.
        lines.set_line(tarpo::ptt::SerialLine::rts, true);
        lines.set_line(tarpo::ptt::SerialLine::dtr, true);
        lines.clear();
        tarpo::ptt::ptt_signal_unkey();
        lines.close();
        EXPECT_FALSE(lines.is_open());
        EXPECT_EQ(tarpo::ptt::ptt_signal_fd(), -1);  // a handler must not touch a stale fd
        ::close(fd);
    }
}

TEST(TtySerialLines, OnlyExistingTerminalsOpen) {
    TempTree tree;
    tree.write("plain.txt", "not a tty");
    for (const std::string& path : {std::string("/nonexistent/ttyS0"),
                                    tree.path("plain.txt").string(), std::string("/dev/null")}) {
        TtySerialLines lines;
        EXPECT_FALSE(lines.open(path)) << path;
        EXPECT_FALSE(lines.is_open());
        EXPECT_EQ(tarpo::ptt::ptt_signal_fd(), -1) << path;
    }
}

TEST(TtySerialLines, TheSignalHandlerUnkeysAndStillEndsTheProcess) {
    PseudoTerminal pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminals here";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TtySerialLines lines;
        if (!lines.open(pty.slave())) ::_exit(3);
        tarpo::ptt::ptt_install_signal_unkey();
        ::raise(SIGTERM);
        ::_exit(4);  // reached only when the handler swallowed the signal
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

}  // namespace
