// The main window against the recording fake: Start's order and its device check, the TX
// switch through its ticks, toggles, slider, menus, meters, clicks, the worker's report and
// Shutdown.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <thread>

#include "fake_engine.h"
#include "tests/support/file_text.h"
#include "ui/graph_widget.h"
#include "ui/operator_panel.h"
#include "ui/ui_maths.h"

namespace tarpo::ui {
namespace {

using testing::FakeEngine;

using tarpo::test::slurp;
using tarpo::test::write;

class Window : public ::testing::Test {
  protected:
    Window() {
        waits.pause = [this] {
            engine.record("pause");
            if (during_pause) during_pause();
        };
        waits.sleep = [this](int ms) {
            sleeps.push_back(ms);
            if (static_cast<int>(sleeps.size()) == confirm_on_sleep) engine.state.worker_run = 1;
        };
    }

    std::filesystem::path dir() const { return temp_.path().toStdString(); }

    // A window after Start, its timer stopped so that the test drives the ticks.
    MainWindow& started() {
        window = std::make_unique<MainWindow>(engine, dir(), waits);
        window->show();
        window->start();
        window->findChild<QTimer*>("timer1")->stop();
        engine.calls.clear();
        return *window;
    }
    template <typename T>
    T* child(const char* id) {
        T* c = window->findChild<T*>(QString::fromLatin1(id));
        EXPECT_NE(c, nullptr) << id;
        return c;
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) window->timer_tick();
    }
    QImage graph_picture() {
        return window->graph()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    QTemporaryDir temp_;
    FakeEngine engine;
    WindowWaits waits;
    std::function<void()> during_pause;
    std::vector<int> sleeps;
    int confirm_on_sleep = -1;
    std::unique_ptr<MainWindow> window;
};

TEST_F(Window, StartRunsInOrder) {
    write(dir() / "sc.txt", "1 SCouttx\n0 SCintx\n1 SCoutrx\n-1 SCintx\n");
    write(dir() / "cs.txt", "dl1abc");
    engine.port_in_file = '4';
    window = std::make_unique<MainWindow>(engine, dir(), waits);
    auto* slider = child<QSlider>("1128");
    auto* timer = window->findChild<QTimer*>("timer1");
    std::vector<std::string> seen;
    engine.observer = [&](const std::string& call) {
        if (call.rfind("callsign_set", 0) == 0) {
            // Slider, sc.txt and cs.txt come before the callsign channel.
            EXPECT_EQ(slider->value(), 50);
            EXPECT_EQ(engine.state.tx_output_device, 1);
            EXPECT_EQ(engine.state.rx_input_device, -1);
        }
        if (call == "ptt_port_open 4") {
            EXPECT_FALSE(window->graph()->initialised());
        }
        if (call == "pause") {
            EXPECT_TRUE(timer->isActive());
        }
        if (call == "ptt_port_open 4") {
            EXPECT_FALSE(timer->isActive());
        }
    };
    window->start();
    EXPECT_EQ(engine.calls,
              (std::vector<std::string>{"callsign_set dl1abc", "sound_init 48000", "ptt_port_load",
                                        "ptt_port_open 4", "pause", "start_worker"}));
    EXPECT_TRUE(window->graph()->initialised());
    EXPECT_EQ(timer->interval(), 150);
    EXPECT_EQ(engine.state.ptt_port_choice, '4');
    EXPECT_EQ(engine.state.sq_level, 7);
    // Put in capitals in place.
    EXPECT_EQ(engine::callsign_string(window->callsign_text()), "DL1ABC");
    // A -1 index passes the check; nothing was out of range, so no dialog opened.
    EXPECT_EQ(engine.state.rx_input_device, -1);
    EXPECT_EQ(engine.notifier, &window->notifier());
    timer->stop();
}

TEST_F(Window, MissingFilesMeanDefaultsAndNoDialog) {
    bool dialog = false;
    during_pause = [&] {
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                dialog = true;
                modal->close();
            }
        });
    };
    started();
    QApplication::processEvents();
    EXPECT_FALSE(dialog);
    EXPECT_EQ(engine::callsign_string(window->callsign_text()), "NOCALL");
    EXPECT_EQ(engine.state.tx_output_device, 0);
}

TEST_F(Window, OutOfRangeDeviceOpensTheDialogBeforeTheWorker) {
    write(dir() / "sc.txt", "5 SCouttx\n0 SCintx\n1 SCoutrx\n1 SCintx\n");
    engine.sound_outputs = 3;
    engine.sound_inputs = 3;
    QString opened;
    bool worker_before_dialog = true;
    during_pause = [&] {
        // Runs inside the dialog's own loop, which starts right after the pause.
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            opened = modal->objectName();
            worker_before_dialog = engine.called("start_worker");
            modal->close();  // closed without OK
        });
    };
    window = std::make_unique<MainWindow>(engine, dir(), waits);
    window->start();
    window->findChild<QTimer*>("timer1")->stop();
    EXPECT_EQ(opened, "1001");
    EXPECT_FALSE(worker_before_dialog);
    EXPECT_TRUE(engine.called("start_worker"));
    // The replaced value stays in memory; the file is not rewritten.
    EXPECT_EQ(engine.state.tx_output_device, 0);
    std::ifstream in(dir() / "sc.txt");
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "5 SCouttx");
}

TEST_F(Window, NoDeviceInOneDirectionAlwaysAsks) {
    engine.sound_inputs = 0;
    int dialogs = 0;
    during_pause = [&] {
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++dialogs;
                modal->close();
            }
        });
    };
    window = std::make_unique<MainWindow>(engine, dir(), waits);
    window->start();
    window->findChild<QTimer*>("timer1")->stop();
    EXPECT_EQ(dialogs, 1);
}

TEST_F(Window, TxSwitchThroughItsTicks) {
    write(dir() / "cs.txt", "dl1abc");
    started();
    auto* tx = child<QPushButton>("1118");
    engine::Controls& s = engine.state;
    s.display_mode = engine::display_spectrum;

    tx->click();  // receiving -> transmitting
    EXPECT_TRUE(tx->isChecked());
    EXPECT_EQ(s.rx_active, 0);
    EXPECT_EQ(s.tx_active, 1);
    EXPECT_EQ(s.display_mode, engine::display_scope);
    ticks(3);
    EXPECT_EQ(s.tx_active, 1);

    tx->click();  // transmitting -> stopping
    EXPECT_FALSE(tx->isChecked());
    EXPECT_EQ(window->tx_stop_countdown(), 4);
    ticks(3);
    EXPECT_EQ(s.tx_active, 1);  // still transmitting for three ticks
    EXPECT_EQ(window->tx_stop_countdown(), 1);
    tx->click();  // refused while stopping
    EXPECT_FALSE(tx->isChecked());
    EXPECT_EQ(s.tx_active, 1);
    EXPECT_EQ(window->tx_stop_countdown(), 1);

    ticks(1);  // the fourth tick switches back
    EXPECT_EQ(s.tx_active, 0);
    EXPECT_EQ(s.rx_active, 1);
    EXPECT_TRUE(engine.called("cancel_acquisition"));  // a click while transmitting is dropped
    EXPECT_EQ(s.display_mode, engine::display_spectrum);
    EXPECT_EQ(window->tx_stop_countdown(), 0);
    tx->click();  // refused within one tick after the switch
    EXPECT_FALSE(tx->isChecked());
    EXPECT_EQ(s.tx_active, 0);

    ticks(1);
    EXPECT_EQ(window->tx_stop_countdown(), -1);
    tx->click();  // accepted again
    EXPECT_TRUE(tx->isChecked());
    EXPECT_EQ(s.tx_active, 1);
}

TEST_F(Window, TogglesFlipTheirFlags) {
    started();
    const std::pair<const char*, std::atomic<int>*> toggles[] = {
        {"1130", &engine.state.alc_on},
        {"1131", &engine.state.split_on},
        {"1132", &engine.state.txid_on},
        {"1133", &engine.state.rxid_on},
        {"1134", &engine.state.analog_mode}};
    for (const auto& [id, flag] : toggles) {
        auto* button = child<QPushButton>(id);
        EXPECT_FALSE(button->isChecked());
        EXPECT_EQ(*flag, 0);
        button->click();
        EXPECT_TRUE(button->isChecked());
        EXPECT_EQ(*flag, 1) << id;
        button->click();
        EXPECT_FALSE(button->isChecked());
        EXPECT_EQ(*flag, 0) << id;
    }
    child<QPushButton>("1131")->click();
    EXPECT_EQ(engine.state.split_on, 1);
    EXPECT_EQ(engine.state.alc_on, 0);  // the others untouched
}

TEST_F(Window, SquelchSliderRunsTopToBottom) {
    started();
    auto* slider = child<QSlider>("1128");
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 100);
    slider->setValue(100);
    EXPECT_EQ(engine.state.sq_level, 15);
    slider->setValue(0);
    EXPECT_EQ(engine.state.sq_level, 0);
    slider->setValue(33);
    EXPECT_EQ(engine.state.sq_level, 4);

    // Position 0 is at the top and 100 at the bottom: a click above the handle lowers the
    // position, one below raises it; the Down key moves down.
    slider->setValue(50);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, 1));
    EXPECT_LT(slider->value(), 50);
    slider->setValue(50);
    QTest::mouseClick(slider, Qt::LeftButton, {},
                      QPoint(slider->width() / 2, slider->height() - 2));
    EXPECT_GT(slider->value(), 50);
    slider->setValue(50);
    QTest::keyClick(slider, Qt::Key_Down);
    EXPECT_EQ(slider->value(), 51);
}

TEST_F(Window, DisplayMenuAndDemodSubmenu) {
    started();
    EXPECT_TRUE(window->windowTitle().startsWith("TARPO   V1.3 - NOCALL"));
    // The laid-out size is where the window starts and the least it can be; it may grow.
    EXPECT_EQ(window->graph()->geometry(), QRect(63, 3, 400, 273));
    EXPECT_EQ(window->centralWidget()->minimumSize(), window->centralWidget()->size());
    window->resize(window->width() + 100, window->height() + 60);
    QApplication::processEvents();
    EXPECT_EQ(window->graph()->geometry(), QRect(63, 3, 500, 333));

    const QList<QAction*> bar = window->menuBar()->actions();
    QStringList titles;
    for (QAction* a : bar) titles << a->text();
    EXPECT_EQ(titles, (QStringList{"&Settings", "&Display", "S&ound", "&About", "&Help"}));
    QStringList settings;
    for (QAction* a : bar[0]->menu()->actions()) settings << a->text();
    EXPECT_EQ(settings,
              (QStringList{"ComPort", "Radio", "Callsign", "Network", "Enhanced receiver",
                           "Transmit a sound file...", "Record received speech", "", "E&xit"}));
    QMenu* display = bar[1]->menu();
    QStringList display_items;
    for (QAction* a : display->actions()) display_items << a->text();
    EXPECT_EQ(display_items,
              (QStringList{"Scope", "Spectrum", "Waterfall", "Scrolling Waterfall", "freqacq",
                           "Demod", "Waterfall scale", "", "Heard stations"}));
    QStringList demod;
    for (QAction* a : display->actions().at(5)->menu()->actions()) demod << a->text();
    EXPECT_EQ(demod, (QStringList{"PhaseErr/Carrier", "State Center Tone", "State Highest Tone",
                                  "State Lowest Tone"}));

    struct Entry {
        const char* id;
        int mode;
        int carrier;  // constellation_carrier afterwards
    };
    engine.state.constellation_carrier = 3;
    const Entry entries[] = {{"40101", 1, 3},  {"40102", 2, 3}, {"40103", 9, 3},
                             {"40146", 10, 3}, {"40136", 3, 3}, {"40140", 5, 3},
                             {"40138", 4, 14}, {"40137", 4, 0}, {"40133", 4, 7}};
    for (const Entry& e : entries) {
        window->findChild<QAction*>(e.id)->trigger();
        EXPECT_EQ(engine.state.display_mode, e.mode) << e.id;
        EXPECT_EQ(engine.state.constellation_carrier, e.carrier) << e.id;
        window->timer_tick();
        EXPECT_TRUE(window->findChild<QAction*>(e.id)->isChecked()) << e.id;
    }
}

// The indicators around the fixed main window: ON AIR follows the worker's keying reports, the
// tuned frequency is shown as a number, F12 is the TX button and Escape ends a transmission.
TEST_F(Window, OnAirFrequencyAndPttKeys) {
    write(dir() / "cs.txt", "dl1abc");
    started();
    auto* on_air = child<QLabel>("on_air");
    const QString dark = on_air->styleSheet();
    window->notifier().keying(true);  // queued, as from the worker's thread
    EXPECT_EQ(on_air->styleSheet(), dark);
    QApplication::processEvents();
    EXPECT_TRUE(window->operator_panel()->on_air());
    EXPECT_NE(on_air->styleSheet(), dark);
    window->notifier().keying(false);
    QApplication::processEvents();
    EXPECT_EQ(on_air->styleSheet(), dark);

    engine.monitored.tuned_freq = 1612.5;
    window->timer_tick();
    EXPECT_EQ(child<QLabel>("tuned_frequency")->text(), "1612.5 Hz");

    // A rig keyed through Hamlib that stays unkeyed: ON AIR shows the rig, unless the SDR loop
    // device is the output, which the worker keys in the rig's place.
    engine.rig.state = ptt::RigReadout::State::connected;
    engine.rig.keys = true;
    window->notifier().keying(true);
    QApplication::processEvents();
    EXPECT_FALSE(window->operator_panel()->on_air());
    engine.loop = true;
    engine.state.tx_output_device = engine.sound_output_count() - 1;
    window->notifier().keying(true);
    QApplication::processEvents();
    EXPECT_TRUE(window->operator_panel()->on_air());
    window->notifier().keying(false);
    QApplication::processEvents();
    engine.rig = {};

    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_F12);
    EXPECT_EQ(engine.state.tx_active, 1);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(window->tx_stop_countdown(), 4);
    EXPECT_FALSE(child<QPushButton>("1118")->isChecked());
    QTest::keyClick(window.get(), Qt::Key_Escape);  // already ending: nothing more
    EXPECT_EQ(window->tx_stop_countdown(), 4);
}

// The status line's transmit controls: F12 without a callsign refused and said, Tune keys
// without one, the drive goes to the worker and into transmit.txt, which the next start reads
// with its time-out.
TEST_F(Window, TransmitControlsInTheStatusLine) {
    write(dir() / "transmit.txt", "timeout 2\ndrive -6\n");
    started();
    EXPECT_EQ(engine.state.drive_db, -6);
    window->activateWindow();
    QApplication::processEvents();
    QTest::keyClick(window.get(), Qt::Key_F12);
    EXPECT_EQ(engine.state.tx_active, 0);
    EXPECT_NE(child<QLabel>("message")->text().indexOf("Settings > Callsign"), -1);

    auto* tune = child<QPushButton>("tune");
    tune->click();
    EXPECT_TRUE(tune->isChecked());
    EXPECT_EQ(engine.state.tune, 1);
    EXPECT_EQ(engine.state.tx_active, 1);
    EXPECT_FALSE(child<QPushButton>("1118")->isChecked());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(tune->isChecked());
    ticks(4);
    EXPECT_EQ(engine.state.tx_active, 0);

    child<QSlider>("drive")->setValue(-20);
    EXPECT_EQ(engine.state.drive_db, -20);
    EXPECT_EQ(slurp(dir() / "transmit.txt"), "timeout 2\ndrive -20\n");
    engine.monitored.tx_peak.raise(3277);  // -20 dBFS
    ticks(1);
    EXPECT_EQ(child<QProgressBar>("tx_peak")->value(), 20);
    EXPECT_EQ(engine.monitored.tx_peak.take(0), 0);  // taken
}

TEST_F(Window, ReceiverChoiceRememberedInItsOwnFile) {
    // No receiver.txt: the enhanced receiver, checked. Unchecking asks the worker for the
    // differential receiver and writes the file, which the next start reads.
    started();
    auto* item = window->findChild<QAction*>("40141");
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(engine.state.enhanced_receiver, 1);
    item->trigger();
    EXPECT_EQ(engine.state.enhanced_receiver, 0);
    EXPECT_EQ(slurp(dir() / "receiver.txt"), "design\n");
    window.reset();
    engine.state.enhanced_receiver = 1;
    started();
    EXPECT_FALSE(window->findChild<QAction*>("40141")->isChecked());
    EXPECT_EQ(engine.state.enhanced_receiver, 0);
    window->findChild<QAction*>("40141")->trigger();
    EXPECT_EQ(slurp(dir() / "receiver.txt"), "enhanced\n");
}

TEST_F(Window, MetersEveryFifthTick) {
    started();
    engine::Monitor& s = engine.monitored;
    auto* snr_field = child<QLineEdit>("1119");
    auto* snr_bar = child<QProgressBar>("1129");
    auto* level = child<QProgressBar>("1123");
    auto* squelch = child<QRadioButton>("1126");

    ticks(5);  // phase_error 0: SNR 0, equal to the initial shown value, so nothing shown
    EXPECT_EQ(snr_field->text(), "");
    EXPECT_EQ(s.rx_peak.take(-1), -1);  // the meter took it

    s.phase_error = 0.01;
    s.rx_peak.raise(32767);
    s.squelch_open = 1;
    ticks(4);
    EXPECT_EQ(snr_field->text(), "");
    EXPECT_EQ(level->value(), 0);
    ticks(1);
    EXPECT_EQ(snr_field->text(), "31");
    EXPECT_EQ(snr_bar->value(), 100);             // 124, a full bar
    EXPECT_EQ(level->value(), level->maximum());  // 102, a full bar
    EXPECT_TRUE(squelch->isChecked());
    EXPECT_EQ(s.rx_peak.take(-1), -1);

    // A peak of -1 (none since the last refresh) leaves the bar.
    s.phase_error = std::nextafter(0.01, 0.0);
    s.squelch_open = 0;
    ticks(5);
    EXPECT_EQ(snr_field->text(), "0");
    EXPECT_EQ(snr_bar->value(), 0);
    EXPECT_EQ(level->value(), 100);
    EXPECT_FALSE(squelch->isChecked());

    s.phase_error = 4.0;  // 5 dB
    s.rx_peak.raise(3200);
    ticks(5);
    EXPECT_EQ(snr_field->text(), "5");
    EXPECT_EQ(snr_bar->value(), 20);
    EXPECT_EQ(level->value(), 10);

    s.phase_error = 150.0;  // -10 dB: shown, with an empty bar
    ticks(5);
    EXPECT_EQ(snr_field->text(), "-10");
    EXPECT_EQ(snr_bar->value(), 0);
}

TEST_F(Window, ConfirmedCallsignShownOnceInAReadOnlyFieldAndListed) {
    started();
    auto* field = child<QLineEdit>("1115");
    auto* recent = child<QComboBox>("recent_calls");
    EXPECT_TRUE(field->isReadOnly());
    engine.monitored.squelch_open = 1;
    ticks(5);
    EXPECT_EQ(field->text(), "");  // nothing received yet
    EXPECT_EQ(recent->count(), 0);

    // A transmitting channel's sequence reaches the fake's receiving channel, whose every
    // complete text counts as confirmed.
    auto receive = [this](const char* call, int dibits) {
        modem::CallsignChannel sender;
        char text[80] = {};
        std::strncpy(text, call, sizeof text - 1);
        sender.set_text(text);
        for (int i = 0; i < dibits; ++i) engine.channel.receive_dibit(sender.next_dibit());
    };
    receive("ok2xyz", 200);
    engine.monitored.squelch_open = 0;
    ticks(5);
    EXPECT_EQ(field->text(), "OK2XYZ");
    // A report stays until the next confirmation, not overwritten by the same old one.
    window->show_report("RSID 1500.0  TARPO");
    ticks(10);
    EXPECT_EQ(field->text(), "RSID 1500.0  TARPO");
    receive("g4abc", 200);
    ticks(5);
    EXPECT_EQ(field->text(), "G4ABC");
    receive("ok2xyz", 200);
    ticks(5);
    ASSERT_EQ(recent->count(), 2);  // distinct calls, the newest first, with the time
    EXPECT_TRUE(recent->itemText(0).endsWith("Z OK2XYZ")) << recent->itemText(0).toStdString();
    EXPECT_TRUE(recent->itemText(1).endsWith("Z G4ABC"));
}

// The waterfall's scale comes from display.txt at Start and every choice in the Display menu
// goes back to it; the graph draws with it.
TEST_F(Window, WaterfallScaleChoicesAreRemembered) {
    write(dir() / "display.txt", "top_dbfs -20\nrange_db 40\nrows_per_tick 1\n");
    started();
    auto* menu = child<QMenu>("waterfall_scale");
    auto choice = [menu](const QString& text) -> QAction* {
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
        ADD_FAILURE() << text.toStdString();
        return nullptr;
    };
    EXPECT_TRUE(choice("-20 dBFS")->isChecked());
    EXPECT_TRUE(choice("40 dB")->isChecked());
    EXPECT_FALSE(choice("60 dB")->isChecked());
    choice("2 rows a tick")->trigger();
    choice("-30 dBFS")->trigger();
    EXPECT_EQ(slurp(dir() / "display.txt"), "top_dbfs -30\nrange_db 40\nrows_per_tick 2\n");

    // Two rows a tick: the line-by-line waterfall fills rows 0, -1, 260 (both off the
    // picture), 259, ... two per tick.
    engine.state.display_mode = engine::display_waterfall;
    ticks(4);
    EXPECT_EQ(window->graph()->canvas().waterfall_row(), 254);
}

TEST_F(Window, ClicksInTheGraphTune) {
    started();
    engine.state.display_mode = engine::display_spectrum;
    ticks(1);
    QImage picture = graph_picture();
    EXPECT_EQ(picture.pixel(192, 100), pen_red);
    EXPECT_EQ(picture.pixel(106, 100), pen_blue);
    EXPECT_EQ(picture.pixel(278, 100), pen_blue);

    QTest::mouseClick(window->graph(), Qt::RightButton, {}, QPoint(40, 120));
    EXPECT_EQ(engine.calls.back().rfind("request_tuning_at", 0), 0u);
    ticks(1);
    EXPECT_DOUBLE_EQ(engine.monitored.tuned_freq, 925.0);
    picture = graph_picture();
    EXPECT_EQ(picture.pixel(100, 100), pen_red);
    EXPECT_EQ(picture.pixel(192, 100), pen_black);

    QTest::mouseClick(window->graph(), Qt::LeftButton, {}, QPoint(250, 30));
    EXPECT_EQ(engine.calls.back(), "request_acquisition");
}

TEST_F(Window, TimerTickRepaintsTheGraphInItsView) {
    started();
    engine.state.display_mode = engine::display_scope;
    engine.monitored.display.back().spectrum_input.fill(250);
    engine.monitored.display.publish();
    ticks(1);
    EXPECT_EQ(graph_picture().pixel(50, 131), pen_green);
    engine.state.display_mode = 7;
    ticks(1);
    EXPECT_EQ(graph_picture().pixel(50, 131), pen_black);
    EXPECT_EQ(engine.ticks, 2);
}

TEST_F(Window, RsidReportArrivesFromAnotherThread) {
    started();
    auto* field = child<QLineEdit>("1115");
    std::thread worker([this] {
        char text[40] = "RSID 1234.5  TARPO";
        window->notifier().rsid_report(text);
        std::memset(text, 'X', sizeof text - 1);  // the report must have been copied
    });
    worker.join();
    EXPECT_EQ(field->text(), "");  // queued: nothing happens off the user-interface thread
    QApplication::processEvents();
    EXPECT_EQ(field->text(), "RSID 1234.5  TARPO");
}

TEST_F(Window, ShutdownWaitsForTheWorker) {
    started();
    confirm_on_sleep = 3;
    engine.state.tx_active = 1;
    window->close();
    EXPECT_EQ(sleeps, (std::vector<int>{100, 100, 100}));
    EXPECT_TRUE(window->worker_confirmed());
    EXPECT_EQ(engine.state.rx_active, 0);
    EXPECT_EQ(engine.state.tx_active, 0);
    EXPECT_FALSE(window->findChild<QTimer*>("timer1")->isActive());
}

TEST_F(Window, ShutdownGivesUpAfterOneSecond) {
    started();
    window->findChild<QTimer*>("timer1")->start();
    window->findChild<QAction*>("150")->trigger();  // E&xit: a queued close
    EXPECT_TRUE(sleeps.empty());
    QApplication::processEvents();
    EXPECT_EQ(sleeps.size(), 10u);
    EXPECT_FALSE(window->worker_confirmed());
    EXPECT_FALSE(window->worker_finished());
    EXPECT_EQ(engine.state.worker_run, 0);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->findChild<QTimer*>("timer1")->isActive());
}

// What the operator left (view, toggles, squelch, tuned frequency) comes back at the next
// start as if set again by hand: the engine's controls, the buttons and the menu's check mark.
TEST_F(Window, StationStateRoundTripsAcrossStarts) {
    started();
    window->findChild<QAction*>("40138")->trigger();  // State Highest Tone
    for (const char* id : {"1131", "1130", "1133"}) child<QPushButton>(id)->click();
    child<QSlider>("1128")->setValue(80);
    window->graph()->tuning_requested(250);  // a right click
    ticks(1);
    const double tuned = engine.monitored.tuned_freq;
    ASSERT_GE(tuned, 925.0);
    ASSERT_NE(tuned, 1500.0);
    window->close();
    window.reset();

    FakeEngine again;
    window = std::make_unique<MainWindow>(again, dir(), waits);
    window->show();
    window->start();
    window->findChild<QTimer*>("timer1")->stop();
    window->timer_tick();
    EXPECT_EQ(again.state.display_mode, engine::display_constellation);
    EXPECT_EQ(again.state.constellation_carrier, 14);
    EXPECT_TRUE(window->findChild<QAction*>("40138")->isChecked());
    EXPECT_EQ(again.state.split_on, 1);
    EXPECT_EQ(again.state.alc_on, 1);
    EXPECT_EQ(again.state.rxid_on, 1);
    EXPECT_EQ(again.state.txid_on, 0);
    EXPECT_TRUE(child<QPushButton>("1131")->isChecked());
    EXPECT_FALSE(child<QPushButton>("1132")->isChecked());
    EXPECT_EQ(child<QSlider>("1128")->value(), 80);
    EXPECT_EQ(again.state.sq_level, squelch_level(80));
    EXPECT_NEAR(again.monitored.tuned_freq, tuned, 0.05);
    window->close();
    window.reset();
    // A file from before, and one with values out of range, start as ever.
    write(dir() / "operator.txt", "record 0\nview 4 3\nsplit 2\nsquelch 101\ntuned 2500\n");
    FakeEngine old;
    window = std::make_unique<MainWindow>(old, dir(), waits);
    window->start();
    window->findChild<QTimer*>("timer1")->stop();
    window->timer_tick();
    EXPECT_EQ(old.state.display_mode, engine::display_waterfall);
    EXPECT_EQ(old.state.split_on, 0);
    EXPECT_EQ(child<QSlider>("1128")->value(), 50);
    EXPECT_EQ(old.monitored.tuned_freq, 1500.0);
}

// The title carries the callsign and the settings directory's name; a message posted by the
// engine's layers shows once in the status line, with the last few in its tooltip; the level
// watch warns there of a silent rx input.
TEST_F(Window, TitleMessagesAndLevelWarnings) {
    write(dir() / "cs.txt", "dl1ab");
    started();
    const QString name = QString::fromStdString(dir().filename().string());
    EXPECT_EQ(window->windowTitle(), "TARPO   V1.3 - DL1AB  [" + name + "]");
    auto* message = child<QLabel>("message");
    EXPECT_TRUE(message->text().isEmpty());
    for (int i = 0; i < 20; ++i) engine.messages.post("Radio: the rig stopped answering", false);
    engine.messages.post("Sound Interface Start, waveInOpen() failed.", false);
    ticks(1);
    EXPECT_TRUE(message->text().endsWith("waveInOpen() failed."));
    EXPECT_EQ(message->toolTip().count("stopped answering"), 1);
    EXPECT_EQ(message->toolTip().count('\n'), 1);

    // -64 dBFS, held for the meter's readings.
    for (int i = 0; i < 40 && !message->text().contains("silent"); ++i) {
        engine.monitored.rx_peak.raise(20);
        ticks(1);
    }
    EXPECT_TRUE(message->text().contains("rx input is silent"));
}

TEST_F(Window, HelpMenuOpensTheGuideAndTheKeys) {
    started();
    for (const char* id : {"40151", "40152"}) {
        QTimer::singleShot(0, window.get(), [] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            const QString text = modal->findChild<QTextBrowser*>("guide_text")->toPlainText();
            EXPECT_TRUE(text.contains("F12")) << text.toStdString();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        window->findChild<QAction*>(id)->trigger();
    }
}

}  // namespace
}  // namespace tarpo::ui
