// Radio and devices by name in the user interface: radio.txt, the Radio dialog, the rig
// readout in the menu bar, sound devices that follow their names between two starts, and the
// Sound Card Selection dialog offering every device.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/device_names.h"
#include "fake_engine.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/radio_dialog.h"
#include "ui/radio_file.h"

namespace tarpo::ui {
namespace {

using ptt::PttKind;
using ptt::RadioSettings;
using testing::FakeEngine;

TEST(RadioSettings, EveryMethodRoundTripsThroughTheFile) {
    for (const PttKind kind :
         {PttKind::vox, PttKind::serial_rts_dtr, PttKind::serial_rts, PttKind::serial_dtr,
          PttKind::hamlib_cat, PttKind::hamlib_net, PttKind::cm108}) {
        RadioSettings s;
        s.method = kind;
        s.rig_model = 3073;
        s.rig_port = "/dev/serial/by-id/usb-Silicon_Labs_CP2102 rig-if00-port0";
        s.rig_baud = 115200;
        s.net_host = "192.0.2.7";
        s.net_port = 4533;
        s.cm108_device = "/dev/hidraw3";
        s.cm108_gpio = 4;
        s.dial_rig = static_cast<ptt::DialRig>(static_cast<int>(kind) % 3);
        std::istringstream in(format_radio_settings(s));
        RadioSettings back;
        read_radio_settings(in, back);
        EXPECT_EQ(back, s) << ptt_kind_word(kind);
    }
}

TEST(RadioSettings, HostileContentKeepsTheDefaultsAndNeverStops) {
    const RadioSettings defaults;
    std::string junk =
        "method teleport\nrig_model -4\nnet_port 99999\ncm108_gpio 9\n"
        "rig_baud 12x\nnet_host \nrig_port a\tb\n" +
        std::string(5000, 'x') + " y\n" + std::string("net_host evil\0host\n", 19);
    std::mt19937 rng(15);
    for (int i = 0; i < 4000; ++i) junk.push_back(static_cast<char>(rng()));
    std::istringstream in(junk);
    RadioSettings s;
    read_radio_settings(in, s);
    EXPECT_EQ(s.method, defaults.method);
    EXPECT_EQ(s.rig_model, defaults.rig_model);
    EXPECT_EQ(s.net_port, defaults.net_port);
    EXPECT_EQ(s.cm108_gpio, defaults.cm108_gpio);
    EXPECT_EQ(s.net_host, defaults.net_host);
    EXPECT_TRUE(s.rig_port.empty());
    // A good line after all that is still taken, with a Windows line end.
    std::istringstream good(junk + "\nmethod vox\r\n");
    read_radio_settings(good, s);
    EXPECT_EQ(s.method, PttKind::vox);
    EXPECT_EQ(load_radio_settings("/nonexistent/radio.txt", s), 0);
}

TEST(RadioSettings, EachBadLineSaidOnceWithTheValueUsed) {
    std::istringstream in(
        "rig_baud 9600\nrig_baud 12345\nnet_port 0\nnet_port 99999999999999999999\n"
        "rig_model 2147483648\ncolour blue\n\n# a comment\nmethod vox\n");
    RadioSettings s;
    std::vector<std::string> notes;
    EXPECT_EQ(read_radio_settings(in, s, &notes), 2);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[0], "line 2: baud rate '12345' is not a serial speed; using 9600");
    EXPECT_EQ(notes[1].rfind("line 3: network port '0' is not within 1..65535; using 4532", 0), 0u);
    EXPECT_EQ(notes[4], "line 6: 'colour blue' is not a setting; skipped");
    EXPECT_EQ(s.rig_baud, 9600);
    EXPECT_EQ(s.net_port, 4532);
    EXPECT_EQ(s.rig_model, 1);
    EXPECT_EQ(s.method, PttKind::vox);

    // Hamlib's list decides a model number that is in range but not a rig.
    s.rig_model = 99998;
    EXPECT_TRUE(check_rig_model(s, {1, 2, 1035}));
    EXPECT_EQ(s.rig_model, 1);
    EXPECT_FALSE(check_rig_model(s, {}));  // no list: nothing to check against
}

TEST(RadioSettings, FifosLinksToDevicesAndHugeFilesAreNotHeldUpOn) {
    tarpo::test::TempDir dir("tarpo-radio");
    const auto file = dir.path("radio.txt");
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    RadioSettings s;
    EXPECT_EQ(load_radio_settings(file, s), 0);  // returns at once, no writer needed
    std::filesystem::remove(file);
    std::filesystem::create_symlink("/dev/zero", file);
    EXPECT_EQ(load_radio_settings(file, s), 0);
    std::filesystem::remove(file);
    // A file far beyond the limit: only its first 64 KiB are read.
    dir.write("radio.txt", "method vox\n" + std::string(1 << 20, '#') + "\nmethod cm108\n");
    EXPECT_EQ(load_radio_settings(file, s), 1);
    EXPECT_EQ(s.method, PttKind::vox);
}

TEST(RadioSettings, Cm108DeviceMustBeAHidrawCharacterDevice) {
    tarpo::test::TempDir dir("tarpo-radio");
    dir.write("not-a-device", "precious");
    EXPECT_NE(cm108_device_problem(dir.path("not-a-device")), "");
    EXPECT_NE(cm108_device_problem("/dev/null"), "");              // a character device, not hidraw
    EXPECT_EQ(cm108_device_problem("/dev/hidraw-unplugged"), "");  // opening it will say
    // Refused when read: nothing is opened, so the file keeps its bytes.
    dir.write("radio.txt",
              "method cm108\ncm108_device " + dir.path("not-a-device").string() + "\n");
    RadioSettings s;
    load_radio_settings(dir.path("radio.txt"), s);
    EXPECT_EQ(s.method, PttKind::cm108);
    EXPECT_EQ(s.cm108_device, "");
}

TEST(RigReadoutText, DialGroupedByThousandsWithModeAndTx) {
    ptt::RigReadout r;
    EXPECT_EQ(rig_readout_text(r), "");
    r.state = ptt::RigReadout::State::connected;
    r.freq_hz = 14236000;
    std::snprintf(r.mode.data(), r.mode.size(), "USB");
    EXPECT_EQ(rig_readout_text(r), "14.236.000 USB");
    r.freq_hz = 7040999.6;
    r.keyed = true;
    EXPECT_EQ(rig_readout_text(r), "7.041.000 USB TX");
    r.state = ptt::RigReadout::State::failed;
    EXPECT_EQ(rig_readout_text(r), "rig: no answer");
    // Asked of the rig and not confirmed by it: said, whatever the link does.
    r.confirmed = false;
    EXPECT_EQ(rig_readout_text(r), "rig: no answer, PTT not confirmed");
    r.state = ptt::RigReadout::State::connected;
    EXPECT_EQ(rig_readout_text(r), "7.041.000 USB TX (PTT not confirmed)");
}

TEST(RadioDialog, OkWritesRadioTxtAndAppliesIt) {
    QTemporaryDir temp;
    const std::filesystem::path dir = temp.path().toStdString();
    FakeEngine engine;
    RadioDialog dialog(engine, dir);
    EXPECT_EQ(dialog.windowTitle(), "Radio");
    auto* method = dialog.findChild<QComboBox*>("method");
    method->setCurrentIndex(method->findData(static_cast<int>(PttKind::hamlib_net)));
    dialog.findChild<QLineEdit*>("net_host")->setText("127.0.0.1");
    dialog.findChild<QSpinBox*>("net_port")->setValue(4533);
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(engine.radio.method, PttKind::hamlib_net);
    EXPECT_EQ(engine.radio.net_port, 4533);
    RadioSettings saved;
    EXPECT_GT(load_radio_settings(dir / "radio.txt", saved), 0);
    EXPECT_EQ(saved, engine.radio);
    // Cancel leaves both alone.
    RadioDialog again(engine, dir);
    again.findChild<QComboBox*>("method")->setCurrentIndex(0);
    again.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    RadioDialog escaped(engine, dir);
    escaped.show();
    escaped.findChild<QComboBox*>("method")->setCurrentIndex(0);
    QTest::keyClick(&escaped, Qt::Key_Escape);
    EXPECT_FALSE(escaped.isVisible());
    EXPECT_EQ(engine.radio_applies, 1);
    EXPECT_EQ(engine.radio.method, PttKind::hamlib_net);
}

// With PTT another way, the dialog offers a rig read for its dial alone; its group is usable
// only then, and OK stores the choice. The loop device as the transmit output brings a note
// that names what is not keyed.
TEST(RadioDialog, DialOnlyRigAndTheLoopDeviceNote) {
    QTemporaryDir temp;
    const std::filesystem::path dir = temp.path().toStdString();
    FakeEngine engine;
    engine.loop = true;
    engine.state.tx_output_device = 0;
    RadioDialog dialog(engine, dir);
    dialog.show();
    auto* method = dialog.findChild<QComboBox*>("method");
    auto* dial = dialog.findChild<QComboBox*>("dial_rig");
    auto* note = dialog.findChild<QLabel*>("loop_note");
    auto* host = dialog.findChild<QLineEdit*>("net_host");
    method->setCurrentIndex(method->findData(static_cast<int>(PttKind::serial_rts_dtr)));
    EXPECT_TRUE(dial->isEnabled());
    EXPECT_FALSE(host->isEnabled());
    EXPECT_FALSE(note->isVisible());  // a sound card is the output
    dial->setCurrentIndex(dial->findData(static_cast<int>(ptt::DialRig::net)));
    EXPECT_TRUE(host->isEnabled());
    method->setCurrentIndex(method->findData(static_cast<int>(PttKind::hamlib_cat)));
    EXPECT_FALSE(dial->isEnabled());  // the PTT's own rig is read
    EXPECT_FALSE(host->isEnabled());

    engine.state.tx_output_device = engine.sound_output_count() - 1;  // the loop device
    EXPECT_TRUE(dialog.loop_note(PttKind::hamlib_net).contains("rig's PTT through Hamlib"));
    EXPECT_TRUE(dialog.loop_note(PttKind::serial_rts).contains("serial port's lines"));
    EXPECT_TRUE(dialog.loop_note(PttKind::vox).isEmpty());
    RadioDialog shown(engine, dir);
    shown.show();
    auto* shown_method = shown.findChild<QComboBox*>("method");
    shown_method->setCurrentIndex(shown_method->findData(static_cast<int>(PttKind::hamlib_net)));
    EXPECT_TRUE(shown.findChild<QLabel*>("loop_note")->isVisible());

    method->setCurrentIndex(method->findData(static_cast<int>(PttKind::cm108)));
    dialog.findChild<QComboBox*>("cm108_device")->setCurrentText("");
    dial->setCurrentIndex(dial->findData(static_cast<int>(ptt::DialRig::net)));
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(engine.radio.method, PttKind::cm108);
    EXPECT_EQ(engine.radio.dial_rig, ptt::DialRig::net);
    RadioSettings saved;
    load_radio_settings(dir / "radio.txt", saved);
    EXPECT_EQ(saved.dial_rig, ptt::DialRig::net);
}

class ByName : public ::testing::Test {
  protected:
    std::filesystem::path dir() const { return temp_.path().toStdString(); }
    // One start of the program in the same directory; true when the Sound Card Selection
    // dialog opened (it is closed without OK).
    bool start() {
        // Nothing left over from earlier tests: their pending calls run now, and the quit of
        // an earlier window's shutdown, which would end the dialog's loop at once, is spent.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QApplication::exec();
        bool dialog = false;
        WindowWaits waits;
        waits.pause = [&] {
            QTimer::singleShot(0, window.get(), [&] {
                if (QWidget* modal = QApplication::activeModalWidget()) {
                    dialog = true;
                    modal->close();
                }
            });
        };
        waits.sleep = [](int) {};
        window = std::make_unique<MainWindow>(engine, dir(), waits);
        window->start();
        window->findChild<QTimer*>("timer1")->stop();
        QApplication::processEvents();  // the check above runs now when no dialog took it
        return dialog;
    }
    void choose(int tx_out, int voice_in, int voice_out, int rx_in) {
        SoundDialog dialog(engine, dir());
        dialog.findChild<QListWidget*>("1121")->setCurrentRow(tx_out);
        dialog.findChild<QListWidget*>("1125")->setCurrentRow(voice_in);
        dialog.findChild<QListWidget*>("1124")->setCurrentRow(voice_out);
        dialog.findChild<QListWidget*>("1123")->setCurrentRow(rx_in);
        dialog.findChild<QPushButton*>("1")->click();
    }

    QTemporaryDir temp_;
    FakeEngine engine;
    std::unique_ptr<MainWindow> window;
};

TEST_F(ByName, ChoicesFollowTheirDevicesWhenTheOrderChanges) {
    engine.input_names = {"HDA Intel: ALC892 Analog", "USB Audio CODEC: Audio", "Webcam Mic"};
    engine.output_names = {"HDA Intel: ALC892 Analog", "USB Audio CODEC: Audio", "HDMI 0"};
    engine.sound_inputs = engine.sound_outputs = 3;
    EXPECT_FALSE(start());
    choose(1, 0, 0, 1);  // the radio on the USB codec, voice on the built-in card
    // Next start: a headset plugged in before the codec moves every number.
    engine.input_names = {"HDA Intel: ALC892 Analog", "Headset Mic", "Webcam Mic",
                          "USB Audio CODEC: Audio"};
    engine.output_names = {"Headset", "HDA Intel: ALC892 Analog", "HDMI 0",
                           "USB Audio CODEC: Audio"};
    engine.sound_inputs = engine.sound_outputs = 4;
    EXPECT_FALSE(start());
    EXPECT_EQ(engine.state.tx_output_device, 3);
    EXPECT_EQ(engine.state.rx_input_device, 3);
    EXPECT_EQ(engine.state.voice_input_device, 0);
    EXPECT_EQ(engine.state.voice_output_device, 1);
    // The codec unplugged: the old rule, the entry replaced and the dialog opened.
    engine.input_names = {"HDA Intel: ALC892 Analog", "Headset Mic", "Webcam Mic", "Other"};
    engine.output_names = {"Headset", "HDA Intel: ALC892 Analog", "HDMI 0", "Other"};
    EXPECT_TRUE(start());
    EXPECT_EQ(engine.state.tx_output_device, 0);
    EXPECT_EQ(engine.state.voice_output_device, 1);
}

TEST_F(ByName, StableNamesAreKeptAndFollowedWhateverTheListShows) {
    engine.output_names = {"Built-in Audio", "Radio codec"};
    engine.output_ids = {"alsa_output.pci", "alsa_output.usb-codec"};
    EXPECT_FALSE(start());
    choose(1, 0, 0, 0);
    engine::DeviceNames kept;
    ASSERT_TRUE(engine::load_device_names(dir() / engine::device_names_file_name, kept));
    EXPECT_EQ(kept.tx_output, "alsa_output.usb-codec");
    // The server renumbered the codec and its description changed: the stable name leads.
    engine.output_names = {"HDMI", "Built-in Audio", "USB codec (renamed)"};
    engine.output_ids = {"alsa_output.hdmi", "alsa_output.pci", "alsa_output.usb-codec"};
    engine.sound_outputs = 3;
    EXPECT_FALSE(start());
    EXPECT_EQ(engine.state.tx_output_device, 2);
    // A file kept under a sound system without stable names holds shown names: still found.
    ASSERT_TRUE(
        engine::save_device_names(dir() / engine::device_names_file_name, {"HDMI", "", "", ""}));
    EXPECT_FALSE(start());
    EXPECT_EQ(engine.state.tx_output_device, 0);
}

TEST_F(ByName, FourteenDevicesAreOfferedWholeWithTheLoopDeviceLast) {
    engine.sound_inputs = 14;
    engine.sound_outputs = 14;
    engine.loop = true;
    SoundDialog dialog(engine, dir());
    auto count = [&](const char* id) { return dialog.findChild<QListWidget*>(id)->count(); };
    EXPECT_EQ(count("1123"), 15);
    EXPECT_EQ(count("1121"), 15);
    EXPECT_EQ(count("1125"), 14);
    EXPECT_EQ(count("1124"), 14);
    EXPECT_EQ(dialog.findChild<QListWidget*>("1123")->item(14)->text(), "SDR Loop In Device");
    EXPECT_EQ(dialog.findChild<QListWidget*>("1121")->item(13)->text(), "Out 13");
}

TEST(DeviceNames, HostileFilesAndTheNamesOfTheSelection) {
    std::string junk =
        "tx_output ok name\nrx_input bad\x01name\nvoice_input " + std::string(2000, 'x') + "\n";
    std::mt19937 rng(6);
    for (int i = 0; i < 3000; ++i) junk.push_back(static_cast<char>(rng()));
    std::istringstream in(junk);
    engine::DeviceNames names;
    engine::read_device_names(in, names);
    EXPECT_EQ(names.tx_output, "ok name");
    EXPECT_EQ(names.rx_input, "");
    EXPECT_EQ(names.voice_input, "");
    std::istringstream again("tx_output a\nmicrophone b\nrx_input c\x7f\n");
    std::vector<std::string> notes;
    engine::read_device_names(again, names, &notes);
    ASSERT_EQ(notes.size(), 2u);  // one note for each bad line
    EXPECT_EQ(notes[0], "line 2: 'microphone b' is not understood; skipped");
    EXPECT_EQ(engine::follow_device(2, "", {"a"}).index, 2);  // no name kept: the number stands
    EXPECT_TRUE(engine::follow_device(0, "b", {"a"}).gone);
    EXPECT_EQ(engine::follow_device(0, "b", {"a", "b"}).index, 1);
}

}  // namespace
}  // namespace tarpo::ui
