// The PTT methods beside keying by the serial lines, and the PTT port kept by its stable path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ptt/port_by_name.h"
#include "ptt/ptt.h"
#include "ptt/ptt_cm108.h"
#include "sound/loop_library.h"
#include "tests/support/serial_fake.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tarpo::ptt;
using tarpo::sound::LoopLibrary;
using tarpo::sound::LoopOutputQuery;
namespace fs = std::filesystem;

std::vector<unsigned char> bytes_of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Cm108Ptt, DrivesOnlyItsGpioAndNeverKeysOnOpenOrClose) {
    const tarpo::test::TempDir temp("tarpo-radio");
    const fs::path& dir = temp.dir();
    const fs::path device = dir / "hidraw0";
    std::ofstream(device).close();  // a regular file stands in for the hidraw node
    const auto any_device = [](int) { return true; };
    {
        Cm108Ptt ptt(device.string(), 3, any_device);
        ASSERT_TRUE(ptt.open());
        ptt.key();
        ptt.unkey();
        ptt.key();
    }  // destroyed while keyed: closing unkeys
    const std::vector<unsigned char> low = {0, 0, 0x00, 0x04, 0};
    const std::vector<unsigned char> high = {0, 0, 0x04, 0x04, 0};
    std::vector<unsigned char> expected;
    for (const auto* r : {&low, &high, &low, &high, &low})
        expected.insert(expected.end(), r->begin(), r->end());
    EXPECT_EQ(bytes_of(device), expected);
    EXPECT_EQ(cm108_report(1, true)[2], 0x01);
    EXPECT_EQ(cm108_report(8, true)[2], 0x80);
    Cm108Ptt missing((dir / "hidraw9").string());
    EXPECT_FALSE(missing.open());
    missing.key();  // nothing open: nothing happens
}

TEST(Cm108Ptt, OnlyAHidrawDeviceIsWrittenAndAFailedWriteIsNotSettled) {
    const tarpo::test::TempDir temp("tarpo-radio");
    const fs::path file = temp.dir() / "hidraw0";
    std::ofstream(file) << "keep me";
    for (const std::string& path : {file.string(), std::string("/dev/null")}) {
        Cm108Ptt ptt(path);
        EXPECT_FALSE(ptt.open()) << path;
        ptt.key();
    }
    EXPECT_EQ(bytes_of(file), (std::vector<unsigned char>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    // A device that takes no report: the key is not settled, and stays so on retry.
    Cm108Ptt full("/dev/full", 3, [](int) { return true; });
    ASSERT_TRUE(full.open());
    full.key();
    EXPECT_FALSE(full.settled());
    full.retry();
    EXPECT_FALSE(full.settled());
}

struct SoundCardOutput : LoopOutputQuery {
    bool output_is_loop() const override { return false; }
};

TEST(PttMethods, SerialVariantsRaiseTheirLineAndVoxTouchesNone) {
    const tarpo::test::TempDir temp("tarpo-radio");
    const fs::path& dir = temp.dir();
    fs::create_directories(dir / "dev/serial/by-id");
    const std::string port = (dir / "dev/serial/by-id/usb-rig").string();
    std::ofstream(port).close();
    FakeSerialLines lines;
    lines.add_port(port);
    LoopLibrary loop;
    SoundCardOutput output;
    PttPort ptt(loop, output, lines, {(dir / "dev").string(), (dir / "sys").string()},
                (dir / "txport.bin").string());
    ptt.open_port('1');
    auto cycle = [&] {
        lines.clear_log();
        ptt.key();
        std::vector<std::string> keyed = lines.log();
        ptt.unkey();
        EXPECT_FALSE(lines.any_raised());
        return keyed;
    };
    ptt.set_keyed_lines(true, false);
    EXPECT_EQ(cycle(), std::vector<std::string>{"rts 1"});
    ptt.set_keyed_lines(false, true);
    EXPECT_EQ(cycle(), std::vector<std::string>{"dtr 1"});
    EXPECT_EQ(ptt.use_method(std::make_unique<VoxPtt>()), nullptr);
    EXPECT_TRUE(cycle().empty());
    EXPECT_NE(ptt.use_method(nullptr), nullptr);
    ptt.set_keyed_lines(true, true);
    EXPECT_EQ(cycle(), (std::vector<std::string>{"rts 1", "dtr 1"}));
    // Lines the driver refuses to change: not settled until a retry gets them through.
    ptt.key();
    lines.fail_lines(true);
    ptt.unkey();
    EXPECT_FALSE(ptt.settled());
    ptt.retry();
    EXPECT_TRUE(lines.any_raised());
    lines.fail_lines(false);
    ptt.retry();
    EXPECT_TRUE(ptt.settled());
    EXPECT_FALSE(lines.any_raised());
}

TEST(PortByName, ReplugInAnotherOrderKeepsThePort) {
    const tarpo::test::TempDir temp("tarpo-radio");
    const fs::path& dir = temp.dir();
    const fs::path by_id = dir / "dev/serial/by-id";
    fs::create_directories(by_id);
    const SerialPortDirs dirs{(dir / "dev").string(), (dir / "sys").string()};
    auto plug = [&](const char* name) { std::ofstream(by_id / name).close(); };
    plug("usb-FTDI_rig-if00");
    plug("usb-Prolific_gps-if00");
    // Chosen: Com 1, the rig's adapter; its path is kept beside txport.bin.
    const fs::path file = port_path_file(dir / "txport.bin");
    EXPECT_EQ(file.filename(), "txport.path");
    ASSERT_TRUE(save_port_path(file, com_port_device('1', dirs)));
    // Next start: another adapter that sorts first is plugged in, the rig's is now Com 2.
    plug("usb-CH340_keyer-if00");
    const PortChoice moved = resolve_port_choice('1', load_port_path(file), dirs);
    EXPECT_EQ(moved.choice, '2');
    EXPECT_EQ(com_port_device(moved.choice, dirs), (by_id / "usb-FTDI_rig-if00").string());
    // The rig's adapter unplugged: no port, never the one now at Com 1.
    fs::remove(by_id / "usb-FTDI_rig-if00");
    const PortChoice gone = resolve_port_choice('1', load_port_path(file), dirs);
    EXPECT_EQ(gone.choice, '0');
    EXPECT_TRUE(gone.missing);
    // Without a path (a txport.bin from before), the number stands.
    EXPECT_EQ(resolve_port_choice('3', "", dirs).choice, '3');
    std::ofstream(file) << "bad\x01path\n";
    EXPECT_EQ(load_port_path(file), "");
    std::string note;
    EXPECT_EQ(read_port_path(std::string(5000, 'x'), &note), "");
    EXPECT_NE(note, "");
    // A FIFO or a link to /dev/zero: neither waited on nor read without end, nor written into.
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    EXPECT_EQ(load_port_path(file), "");
    EXPECT_FALSE(save_port_path(file, "/dev/ttyUSB0"));
    fs::remove(file);
    fs::create_symlink("/dev/zero", file);
    EXPECT_EQ(load_port_path(file), "");
    EXPECT_FALSE(save_port_path(file, "/dev/ttyUSB0"));
}

}  // namespace
