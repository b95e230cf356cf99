// The four settings dialogs: what they list, what OK stores, applies and writes, and that
// Cancel, Escape and closing end them without a change.
#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <fstream>

#include "fake_engine.h"
#include "tests/support/file_text.h"

namespace tarpo::ui {
namespace {

using testing::FakeEngine;

using tarpo::test::slurp;

QStringList entries(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

int selected(const QListWidget* list) {
    const auto items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

class Dialogs : public ::testing::Test {
  protected:
    std::filesystem::path dir() const { return temp_.path().toStdString(); }
    template <typename T>
    static T* child(QWidget& parent, const char* id) {
        T* c = parent.findChild<T*>(QString::fromLatin1(id));
        EXPECT_NE(c, nullptr) << id;
        return c;
    }
    static void press_ok(QWidget& dialog) { child<QPushButton>(dialog, "1")->click(); }

    QTemporaryDir temp_;
    FakeEngine engine;
};

TEST_F(Dialogs, SoundSelectionSavedInFileOrder) {
    engine.sound_inputs = 4;
    engine.sound_outputs = 4;
    SoundDialog dialog(engine, dir());
    EXPECT_EQ(dialog.windowTitle(), "Sound Card Selection");
    child<QListWidget>(dialog, "1123")->setCurrentRow(1);  // rx input
    child<QListWidget>(dialog, "1121")->setCurrentRow(0);  // tx output
    child<QListWidget>(dialog, "1125")->setCurrentRow(2);  // voice input
    child<QListWidget>(dialog, "1124")->setCurrentRow(3);  // voice output
    press_ok(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(slurp(dir() / "sc.txt"), "0 SCouttx\n2 SCintx\n3 SCoutrx\n1 SCintx\n");
    EXPECT_EQ(engine.state.tx_output_device, 0);
    EXPECT_EQ(engine.state.voice_input_device, 2);
    EXPECT_EQ(engine.state.voice_output_device, 3);
    EXPECT_EQ(engine.state.rx_input_device, 1);
    // Receiving: the receive pair is applied at once, blocking.
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"sound_select_output 3 blocking",
                                                      "sound_select_input 1 blocking"}));
}

TEST_F(Dialogs, SoundSelectionWhileTransmittingAppliesTheTransmitPair) {
    engine.sound_inputs = 3;
    engine.sound_outputs = 3;
    engine.state.tx_active = 1;
    engine.state.tx_output_device = 2;
    engine.state.voice_input_device = 1;
    SoundDialog dialog(engine, dir());
    press_ok(dialog);  // the lists opened on the values in memory
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"sound_select_output 2 blocking",
                                                      "sound_select_input 1 blocking"}));
}

TEST_F(Dialogs, LoopDeviceOfferedOnlyForTheRadio) {
    engine.sound_inputs = 3;
    engine.sound_outputs = 2;
    engine.loop = true;
    engine.state.voice_input_device = 3;  // the loop device's index passes the start check...
    engine.state.rx_input_device = 3;
    SoundDialog dialog(engine, dir());
    auto* rx = child<QListWidget>(dialog, "1123");
    auto* voice_in = child<QListWidget>(dialog, "1125");
    EXPECT_EQ(entries(rx), (QStringList{"In 0", "In 1", "In 2", "SDR Loop In Device"}));
    EXPECT_EQ(entries(voice_in), (QStringList{"In 0", "In 1", "In 2"}));
    EXPECT_EQ(entries(child<QListWidget>(dialog, "1121")).size(), 3);
    EXPECT_EQ(entries(child<QListWidget>(dialog, "1124")).size(), 2);
    EXPECT_EQ(selected(rx), 3);
    EXPECT_EQ(selected(voice_in), -1);  // ...but selects nothing in the voice list
    press_ok(dialog);
    EXPECT_EQ(engine.state.voice_input_device, -1);
    EXPECT_EQ(slurp(dir() / "sc.txt"), "0 SCouttx\n-1 SCintx\n0 SCoutrx\n3 SCintx\n");
}

// Cancel, Escape (also from inside a list or the field) and the window's close end every
// settings dialog without a change: nothing stored, applied or written.
TEST_F(Dialogs, CancelEscapeAndCloseChangeNothing) {
    engine.state.tx_output_device = 1;
    engine.state.ptt_port_choice = '2';
    engine::CallsignText callsign = engine::make_callsign_text("DL1AB");
    const auto ends = [this](QDialog& dialog, QWidget* focus, int way) {
        dialog.show();
        if (way == 0) child<QPushButton>(dialog, "2")->click();
        if (way == 1) QTest::keyClick(focus, Qt::Key_Escape);
        if (way == 2) dialog.close();
        EXPECT_FALSE(dialog.isVisible()) << way;
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << way;
    };
    for (int way = 0; way < 3; ++way) {
        {
            SoundDialog dialog(engine, dir());
            auto* list = child<QListWidget>(dialog, "1121");
            list->setCurrentRow(0);
            ends(dialog, list, way);
        }
        {
            ComportDialog dialog(engine);
            auto* list = child<QListWidget>(dialog, "1126");
            list->setCurrentRow(5);
            ends(dialog, list, way);
        }
        {
            CallsignDialog dialog(engine, callsign, dir());
            auto* edit = child<QLineEdit>(dialog, "1131");
            edit->setText("XX1XX");
            ends(dialog, edit, way);
        }
    }
    EXPECT_EQ(engine.state.tx_output_device, 1);
    EXPECT_EQ(engine.state.ptt_port_choice, '2');
    EXPECT_EQ(engine::callsign_string(callsign), "DL1AB");
    EXPECT_TRUE(std::filesystem::is_empty(dir()));
    EXPECT_TRUE(engine.calls.empty());
}

TEST_F(Dialogs, EnterKeyIsOk) {
    SoundDialog dialog(engine, dir());
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(std::filesystem::exists(dir() / "sc.txt"));
}

TEST_F(Dialogs, ComportListAndChoice) {
    engine.port_devices[1] = "/dev/ttyS0";
    engine.port_devices[3] = "/dev/ttyUSB0";
    engine.port_devices[8] = "/dev/serial/by-id/" + std::string(600, 'u');  // long, shown whole
    engine.state.ptt_port_choice = '1';
    ComportDialog dialog(engine);
    EXPECT_EQ(dialog.windowTitle(), "Set Comport");
    auto* list = child<QListWidget>(dialog, "1126");
    const QStringList names = entries(list);
    ASSERT_EQ(names.size(), 9);
    EXPECT_EQ(names[0], "None ");
    EXPECT_EQ(names[1], "Com 1  /dev/ttyS0");
    EXPECT_EQ(names[2], "Com 2");
    EXPECT_EQ(names[3], "Com 3  /dev/ttyUSB0");
    EXPECT_EQ(names[8].size(), 7 + 18 + 600);  // "Com 8", two blanks, the device
    EXPECT_EQ(selected(list), 1);
    // Every entry fits the list's visible width, beside the scroll bar the nine entries need.
    dialog.show();
    QApplication::processEvents();
    for (int i = 0; i < list->count(); ++i) {
        const QRect r = list->visualItemRect(list->item(i));
        EXPECT_LE(r.left() + list->fontMetrics().horizontalAdvance(names[i]),
                  list->viewport()->width())
            << names[i].left(30).toStdString();
    }
    EXPECT_LE(list->geometry().right(), child<QPushButton>(dialog, "1")->geometry().left());

    list->setCurrentRow(3);
    press_ok(dialog);
    EXPECT_EQ(engine.state.ptt_port_choice, '3');
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"ptt_port_save 3", "ptt_port_open 3"}));
}

TEST_F(Dialogs, ComportWithoutSelectionStoresSlash) {
    engine.state.ptt_port_choice = 'x';  // outside '0'..'8': nothing selected
    ComportDialog dialog(engine);
    EXPECT_EQ(selected(child<QListWidget>(dialog, "1126")), -1);
    press_ok(dialog);
    EXPECT_EQ(engine.state.ptt_port_choice, '/');
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"ptt_port_save /", "ptt_port_open /"}));
}

TEST_F(Dialogs, CallsignUpperCasedAndSavedWithoutLineEnd) {
    engine::CallsignText callsign = engine::make_callsign_text("NOCALL");
    CallsignDialog dialog(engine, callsign, dir());
    EXPECT_EQ(dialog.windowTitle(), "Set Callsign");
    auto* edit = child<QLineEdit>(dialog, "1131");
    EXPECT_EQ(edit->text(), "NOCALL");
    dialog.show();
    edit->clear();
    QTest::keyClicks(edit, "dl1abc/p");
    QTest::keyClick(edit, Qt::Key_Return);  // Enter in the field is OK
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(engine::callsign_string(callsign), "DL1ABC/P");
    EXPECT_EQ(slurp(dir() / "cs.txt"), "DL1ABC/P");
    // callsign_set got the typed text and put it in capitals in place, before the file was
    // written.
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"callsign_set dl1abc/p"}));
}

TEST_F(Dialogs, CallsignCutAt79AndUntouchedWithoutOk) {
    engine::CallsignText callsign = engine::make_callsign_text("NOCALL");
    {
        CallsignDialog dialog(engine, callsign, dir());
        child<QLineEdit>(dialog, "1131")->setText(QString(120, 'k'));
        press_ok(dialog);
    }
    EXPECT_EQ(engine::callsign_string(callsign), std::string(79, 'K'));
    EXPECT_EQ(slurp(dir() / "cs.txt"), std::string(79, 'K'));
    {
        CallsignDialog dialog(engine, callsign, dir());
        dialog.show();
        child<QLineEdit>(dialog, "1131")->setText("XX1XX");
        dialog.close();
    }
    EXPECT_EQ(engine::callsign_string(callsign), std::string(79, 'K'));
}

TEST(AboutDialogTest, ClosesOnAnything) {
    {
        AboutDialog dialog;
        EXPECT_EQ(dialog.windowTitle(), "About");
        auto* text = dialog.findChild<QTextEdit*>("1127");
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(text->toPlainText().contains("TARPO"));
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        AboutDialog dialog;
        dialog.show();
        dialog.findChild<QPushButton*>("1130")->click();
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        AboutDialog dialog;
        dialog.show();
        auto* text = dialog.findChild<QTextEdit*>("1127");
        QTest::mouseClick(text->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        EXPECT_FALSE(dialog.isVisible());
    }
}

}  // namespace
}  // namespace tarpo::ui
