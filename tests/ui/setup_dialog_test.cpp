// The set-up dialog against the recording fake: when it is a first start, what OK writes and
// applies, and that Cancel and Escape leave every file and setting as it was.
#include "ui/setup_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "fake_engine.h"
#include "tests/support/file_text.h"

namespace tarpo::ui {
namespace {

using tarpo::test::slurp;

struct Setup : ::testing::Test {
    Setup() {
        engine.loop = true;  // "Out 0", "Out 1", then the loop entry
        engine.state.ptt_port_choice = '0';
    }
    std::filesystem::path dir() const { return temp.path().toStdString(); }
    template <typename W>
    W* find(QWidget& dialog, const char* name) {
        W* w = dialog.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir()))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    QTemporaryDir temp;
    testing::FakeEngine engine;
    engine::CallsignText callsign = engine::make_callsign_text("NOCALL");
};

TEST_F(Setup, FirstStartAndLocators) {
    EXPECT_TRUE(first_start(dir()));
    std::ofstream(dir() / "cs.txt") << "DL1ABC";
    EXPECT_FALSE(first_start(dir()));
    std::filesystem::remove(dir() / "cs.txt");
    std::ofstream(dir() / "sc.txt") << "0 SCouttx\n";
    EXPECT_FALSE(first_start(dir()));
    for (const char* good : {"", "JO31", "jo31ne", "JO31NE12", "RR99XX99"})
        EXPECT_TRUE(locator_valid(good)) << good;
    for (const char* bad :
         {"J", "JO3", "SO31", "JO3A", "JO31NY", "JO31ne1", "JO31neAB", "JO31ne123"})
        EXPECT_FALSE(locator_valid(bad)) << bad;
}

TEST_F(Setup, OkWritesTheFilesAndAppliesThem) {
    SetupDialog dialog(engine, callsign, dir());
    find<QPushButton>(dialog, "setup_ok")->click();  // no callsign yet: refused, said
    EXPECT_TRUE(files().empty());
    EXPECT_FALSE(find<QLabel>(dialog, "setup_result")->text().isEmpty());
    find<QLineEdit>(dialog, "setup_callsign")->setText("dl1abc");
    find<QLineEdit>(dialog, "setup_locator")->setText("JO31x");  // refused too
    find<QPushButton>(dialog, "setup_ok")->click();
    EXPECT_TRUE(files().empty());
    find<QLineEdit>(dialog, "setup_locator")->setText("JO31ne");
    find<QComboBox>(dialog, "setup_tx_output")->setCurrentIndex(2);  // the loop device
    find<QComboBox>(dialog, "setup_rx_input")->setCurrentIndex(2);
    find<QComboBox>(dialog, "setup_voice_output")->setCurrentIndex(1);
    find<QComboBox>(dialog, "setup_port")->setCurrentIndex(3);
    EXPECT_EQ(find<QComboBox>(dialog, "setup_voice_input")->count(), 2);  // no loop entry
    engine.calls.clear();
    find<QPushButton>(dialog, "setup_ok")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    EXPECT_EQ(files(), (std::vector<std::string>{"cs.txt", "locator.txt", "radio.txt", "sc.txt",
                                                 "sc_names.txt"}));
    EXPECT_EQ(slurp(dir() / "cs.txt"), "DL1ABC");
    EXPECT_EQ(slurp(dir() / "sc.txt"), "2 SCouttx\n0 SCintx\n1 SCoutrx\n2 SCintx\n");
    EXPECT_EQ(slurp(dir() / "locator.txt"), "JO31ne\n");
    EXPECT_NE(slurp(dir() / "sc_names.txt").find("SDR Loop Out Device"), std::string::npos);
    EXPECT_EQ(engine::callsign_string(callsign), "DL1ABC");
    EXPECT_EQ(engine.state.tx_output_device, 2);
    EXPECT_EQ(engine.state.ptt_port_choice, '3');
    // txport.bin is the engine's to write: asked for, with the port opened.
    EXPECT_TRUE(engine.called("callsign_set dl1abc"));
    EXPECT_TRUE(engine.called("ptt_port_save 3"));
    EXPECT_TRUE(engine.called("ptt_port_open 3"));
}

TEST_F(Setup, CancelAndEscapeChangeNothing) {
    for (const bool escape : {false, true}) {
        SetupDialog dialog(engine, callsign, dir());
        dialog.show();
        find<QLineEdit>(dialog, "setup_callsign")->setText("dl1abc");
        find<QComboBox>(dialog, "setup_tx_output")->setCurrentIndex(2);
        find<QPushButton>(dialog, "setup_test_ptt")->click();  // applies a method for the test
        const int applies = engine.radio_applies;
        if (escape)
            QTest::keyClick(find<QLineEdit>(dialog, "setup_callsign"), Qt::Key_Escape);
        else
            find<QPushButton>(dialog, "setup_cancel")->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(files().empty());
        EXPECT_EQ(engine::callsign_string(callsign), "NOCALL");
        EXPECT_EQ(engine.state.tx_output_device, 0);
        EXPECT_GT(engine.radio_applies, applies);  // the method as it was, applied again
        EXPECT_FALSE(engine.called("ptt_port_save 0"));
    }
}

}  // namespace
}  // namespace tarpo::ui
