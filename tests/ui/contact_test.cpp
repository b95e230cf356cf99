// Logging a contact and the Network dialog, offscreen: the Log contact dialog's defaults and
// checks, OK writing network.txt and Cancel or Escape writing nothing, and the heard window's
// Ctrl+L through the main window into contacts.adi and to a logger listening on 127.0.0.1
// (the logger link's senders are threads: label "threads").
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "engine/heard_log.h"
#include "fake_engine.h"
#include "tests/net/logger_reader.h"
#include "tests/support/file_text.h"
#include "tests/support/udp_collector.h"
#include "ui/heard_window.h"
#include "ui/main_window.h"
#include "ui/network_dialog.h"

namespace tarpo::ui {
namespace {

using tarpo::test::slurp;

template <typename T>
T* child(QWidget& parent, const char* name) {
    T* c = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void set_text(QWidget& parent, const char* name, const QString& text) {
    if (auto* edit = child<QLineEdit>(parent, name)) edit->setText(text);
}

engine::HeardEntry heard_dl1abc() {
    engine::HeardEntry e;
    e.start_ms = 1'765'300'000'000;
    e.end_ms = e.start_ms + 20'000;
    e.callsign = "DL1ABC";
    e.best_snr_db = 14;
    e.mean_snr_db = 10.2;
    e.audio_hz = 1500;
    return e;
}

TEST(ContactDialog, DefaultsFromTheSnrAndChecksTheReports) {
    ContactDialog dialog(heard_dl1abc(), 14'237'500);
    EXPECT_EQ(child<QLineEdit>(dialog, "rst_sent")->text(), "54");
    EXPECT_EQ(child<QLineEdit>(dialog, "rst_received")->text(), "54");
    set_text(dialog, "rst_received", "5x");
    child<QPushButton>(dialog, "1")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected) << "still open";
    EXPECT_EQ(child<QLabel>(dialog, "contact_problem")->text(),
              "RST received: 2 or 3 digits, e.g. 59");
    set_text(dialog, "rst_received", " 57 ");
    set_text(dialog, "contact_name", "Hans");
    child<QPushButton>(dialog, "1")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const engine::ContactAnswers a = dialog.answers();
    EXPECT_EQ(a.rst_sent, "54");
    EXPECT_EQ(a.rst_received, "57");
    EXPECT_EQ(a.name, "Hans");
    EXPECT_EQ(a.comment, "");
    for (const char* bad : {"", "5", "59999", "05", "60", "50"})
        EXPECT_FALSE(ContactDialog::report_problem(bad, "59").isEmpty()) << bad;
    EXPECT_TRUE(ContactDialog::report_problem("599", "11").isEmpty());
}

TEST(HeardWindow, LogContactTakesTheSelectedEntryOrTheNewest) {
    QTemporaryDir temp;
    const std::filesystem::path csv =
        std::filesystem::path(temp.path().toStdString()) / "heard.csv";
    HeardWindow empty(csv, nullptr);
    EXPECT_FALSE(empty.request_contact()) << "nothing heard yet";
    engine::HeardEntry older = heard_dl1abc();
    older.callsign = "W1AW";
    std::ofstream(csv) << engine::csv_header() << "\n"
                       << engine::csv_line(older) << "\n"
                       << engine::csv_line(heard_dl1abc()) << "\n";
    HeardWindow heard(csv, nullptr);
    std::vector<std::string> asked;
    QObject::connect(&heard, &HeardWindow::log_contact,
                     [&](const engine::HeardEntry& e) { asked.push_back(e.callsign); });
    EXPECT_TRUE(heard.request_contact());
    child<QTableWidget>(heard, "heard_table")->selectRow(0);
    child<QPushButton>(heard, "log_contact")->click();
    EXPECT_EQ(asked, (std::vector<std::string>{"DL1ABC", "W1AW"}));
}

class Network : public ::testing::Test {
  protected:
    std::filesystem::path dir() const { return temp_.path().toStdString(); }
    std::filesystem::path file() const { return dir() / engine::network_file_name; }
    QTemporaryDir temp_;
};

TEST_F(Network, OkWritesWhatTheFieldsSay) {
    NetworkDialog dialog({}, dir(), "N0CALL", "FN42hn");
    child<QCheckBox>(dialog, "report")->setChecked(true);
    set_text(dialog, "report_to", "127.0.0.1:32781");
    set_text(dialog, "antenna", "dipole at 10 m");
    set_text(dialog, "dial", "14236000");
    child<QCheckBox>(dialog, "logger")->setChecked(true);
    set_text(dialog, "logger_to", "239.255.0.1:2237");
    child<QCheckBox>(dialog, "adif")->setChecked(true);
    set_text(dialog, "adif_to", "[::1]:2333");
    child<QPushButton>(dialog, "1")->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted)
        << child<QLabel>(dialog, "network_problem")->text().toStdString();
    std::vector<std::string> notes;
    const engine::NetworkSettings s = engine::read_network_settings(slurp(file()), &notes);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(s, dialog.accepted_settings());
    EXPECT_TRUE(s.report && s.logger && s.adif);
    EXPECT_EQ(s.report_to, (engine::Endpoint{"127.0.0.1", "32781"}));
    EXPECT_EQ(s.antenna, "dipole at 10 m");
    EXPECT_EQ(s.dial_hz.value_or(0), 14'236'000u);
    EXPECT_EQ(s.logger_to, (engine::Endpoint{"239.255.0.1", "2237"}));
    EXPECT_EQ(s.adif_to, (engine::Endpoint{"::1", "2333"}));
    // And back into a dialog, which shows the same.
    NetworkDialog again(s, dir(), "N0CALL", "");
    QString problem;
    EXPECT_EQ(again.settings(problem).value_or(engine::NetworkSettings{}), s);
}

TEST_F(Network, BadValuesAreRefusedByNameAndNothingIsWritten) {
    const std::pair<const char*, const char*> bad[] = {
        {"report_to", "Reports to: 'nowhere' is not HOST:PORT"},
        {"dial", "Dial frequency: 'nowhere' is not a frequency in Hz"},
        {"logger_to", "Logger at: 'nowhere' is not HOST:PORT"},
        {"adif_to", "ADIF records to: 'nowhere' is not HOST:PORT"}};
    for (const auto& [field, said] : bad) {
        NetworkDialog dialog({}, dir(), "N0CALL", "");
        set_text(dialog, field, "nowhere");
        child<QPushButton>(dialog, "1")->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        const QString problem = child<QLabel>(dialog, "network_problem")->text();
        EXPECT_TRUE(problem.startsWith(QString::fromLatin1(said))) << problem.toStdString();
        EXPECT_EQ(problem.count('\n'), 0);
    }
    // Reports name the station: not with the callsign nobody has.
    NetworkDialog nocall({}, dir(), "NOCALL", "");
    child<QCheckBox>(nocall, "report")->setChecked(true);
    child<QPushButton>(nocall, "1")->click();
    EXPECT_EQ(nocall.result(), QDialog::Rejected);
    EXPECT_TRUE(child<QLabel>(nocall, "network_problem")->text().contains("Callsign"));
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(Network, CancelAndEscapeWriteNothing) {
    for (int way = 0; way < 2; ++way) {
        NetworkDialog dialog({}, dir(), "N0CALL", "");
        dialog.show();
        child<QCheckBox>(dialog, "logger")->setChecked(true);
        if (way == 0)
            child<QPushButton>(dialog, "2")->click();
        else
            QTest::keyClick(child<QLineEdit>(dialog, "dial"), Qt::Key_Escape);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_FALSE(std::filesystem::exists(file()));
}

// A logger's UDP socket on 127.0.0.1.
class Listener : public test::UdpCollector {
  public:
    std::string endpoint() const { return "127.0.0.1:" + port(); }
    // The types of the messages that arrive until `wait_ms` pass without one.
    std::vector<std::uint64_t> types(int wait_ms = 1000) {
        std::vector<std::uint64_t> seen;
        while (const auto m = receive(std::chrono::milliseconds(wait_ms))) {
            net::StreamReader r(*m);
            r.number(8);
            seen.push_back(r.number(4));
        }
        return seen;
    }
};

TEST_F(Network, TheSettingsMenuAppliesWhatOkWrote) {
    Listener logger;
    testing::FakeEngine engine;
    MainWindow window(engine, dir(), WindowWaits{[] {}, [](int) {}});
    EXPECT_FALSE(window.logger_link().sends_messages());
    QTimer::singleShot(0, &window, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        child<QCheckBox>(*modal, "logger")->setChecked(true);
        set_text(*modal, "logger_to", QString::fromStdString(logger.endpoint()));
        child<QPushButton>(*modal, "1")->click();
    });
    window.findChild<QAction*>(QString::number(id_network))->trigger();
    EXPECT_TRUE(window.network().logger);
    EXPECT_EQ(engine::read_network_settings(slurp(file()), nullptr), window.network());
    window.timer_tick();
    EXPECT_TRUE(window.logger_link().sends_messages());
    // (Shutdown's own Close is seen below: its exit() would end the next test's dialogs.)
    EXPECT_TRUE(window.logger_link().stop());
    EXPECT_EQ(logger.types(), (std::vector<std::uint64_t>{0, 1, 6}));
}

TEST_F(Network, LogContactFromTheHeardWindow) {
    Listener logger;
    std::ofstream(file()) << "logger on\nlogger_to " << logger.endpoint() << "\ndial 14236000\n";
    std::ofstream(dir() / "locator.txt") << "jo62qm\n";
    std::ofstream(dir() / "heard.csv") << engine::csv_header() << "\n"
                                       << engine::csv_line(heard_dl1abc()) << "\n";
    testing::FakeEngine engine;
    WindowWaits waits{[] {}, [](int) {}};
    MainWindow window(engine, dir(), waits);
    EXPECT_TRUE(window.logger_link().sends_messages());
    window.timer_tick();  // a Heartbeat and the first Status
    window.findChild<QAction*>("heard_stations")->trigger();
    auto* heard = window.findChild<HeardWindow*>("heard_window");
    ASSERT_NE(heard, nullptr);
    ASSERT_EQ(child<QTableWidget>(*heard, "heard_table")->rowCount(), 1);
    for (const bool ok : {false, true}) {
        heard->activateWindow();  // Ctrl+L belongs to the heard window
        ASSERT_TRUE(QTest::qWaitForWindowActive(heard));
        bool asked = false;
        QTimer::singleShot(0, heard, [&, ok] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            asked = modal->objectName() == "contact_dialog";
            set_text(*modal, "contact_comment", "first <contact>");
            QTest::keyClick(modal, ok ? Qt::Key_Return : Qt::Key_Escape);
        });
        QTest::keyClick(heard, Qt::Key_L, Qt::ControlModifier);
        EXPECT_TRUE(asked);
        EXPECT_EQ(std::filesystem::exists(dir() / engine::contact_file_name), ok);
    }
    const auto records = net::read_adif_records(slurp(dir() / engine::contact_file_name));
    ASSERT_EQ(records.size(), 1u);
    std::map<std::string, std::string> r;
    for (const auto& f : records[0]) r[f.name] = f.value;
    EXPECT_EQ(r["CALL"], "DL1ABC");
    EXPECT_EQ(r["FREQ"], "14.237500") << "network.txt's dial and the audio centre";
    EXPECT_EQ(r["RST_SENT"], "54");
    EXPECT_EQ(r["MY_GRIDSQUARE"], "JO62qm");
    EXPECT_EQ(r["COMMENT"], "first (contact)");
    EXPECT_EQ(r.count("STATION_CALLSIGN"), 0u) << "NOCALL is left out";
    window.shutdown();
    EXPECT_EQ(logger.types(), (std::vector<std::uint64_t>{0, 1, 5, 12, 6}));
}

}  // namespace
}  // namespace tarpo::ui
