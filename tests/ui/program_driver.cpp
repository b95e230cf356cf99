// Linked beside the program's own main.cpp: once the application object exists, this drives
// the main window the way an operator would, with real clicks on the real engine, so that a
// ThreadSanitizer build sees the user-interface thread and the worker meet at every control.
//
// TARPO_DRIVE picks the order: "rx-tx" works the controls while receiving, presses TX and works
// them again while transmitting; "tx-rx" starts with TX pressed and ends receiving. Each phase
// flips the five toggles (Split, ALC, Analog, TXID, RXID) on and off, moves the squelch
// slider, confirms the Sound Card Selection dialog with OK, and right- and left-clicks the
// graph. Progress goes to stderr as "driver: ..."; "driver: finished" says that the caller may
// now end the program with a signal.
//
// Two more orders work the transmit switch and the set-up dialog (transmit_under_xvfb.sh):
// "nocall" presses F12 and says what the status line says; "setup" says whether the set-up
// dialog is open, fills it in (callsign DL1ABC, the loop device as the radio's input and output),
// plays the test tone on the tx output, confirms with OK, presses F12 and says what the status
// line says after the time-out.
//
// "contact" (contact_under_xvfb.sh) waits for the first entry of heard.csv, opens the heard
// stations, presses Ctrl+L there and confirms the Log contact dialog with a name.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

void say(const char* text) {
    std::fprintf(stderr, "driver: %s\n", text);
    std::fflush(stderr);
}

QWidget* main_window() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("1000")) return w;
    return nullptr;
}

template <typename W>
W* control(const char* id) {
    QWidget* window = main_window();
    W* w = window ? window->findChild<W*>(QString::fromLatin1(id)) : nullptr;
    if (!w) {
        std::fprintf(stderr, "driver: no control %s\n", id);
        std::exit(3);
    }
    return w;
}

struct Step {
    int delay_ms;  // after the previous step
    std::function<void()> run;
};
using Steps = std::vector<Step>;

// Runs the steps one after the other from the event loop; a step that opens a modal dialog
// returns when the dialog has closed, and only then is the next one timed.
void run_from(std::shared_ptr<const Steps> steps, std::size_t i) {
    if (i >= steps->size()) return;
    QTimer::singleShot((*steps)[i].delay_ms, qApp, [steps, i] {
        (*steps)[i].run();
        run_from(steps, i + 1);
    });
}

void click(const char* id) {
    control<QPushButton>(id)->click();
}

// The Sound Card Selection dialog from its menu entry, confirmed with OK once it shows.
void sound_dialog_ok() {
    QTimer::singleShot(400, qApp, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* ok = dialog ? dialog->findChild<QPushButton*>(QStringLiteral("1")) : nullptr;
        if (!ok) {
            say("no Sound Card Selection dialog with OK");
            std::exit(3);
        }
        ok->click();
    });
    control<QAction>("40113")->trigger();
}

void add_phase(Steps& steps, const char* done) {
    for (const char* toggle : {"1131", "1130", "1134", "1132", "1133"}) {
        steps.push_back({200, [toggle] { click(toggle); }});
        steps.push_back({200, [toggle] { click(toggle); }});
    }
    for (const int position : {0, 100, 30, 50})
        steps.push_back({150, [position] { control<QSlider>("1128")->setValue(position); }});
    steps.push_back({200, sound_dialog_ok});
    steps.push_back({300, [] {
                         QTest::mouseClick(control<QWidget>("1114"), Qt::RightButton, {},
                                           QPoint(40, 120));
                     }});
    steps.push_back(
        {500,
         [] { QTest::mouseClick(control<QWidget>("1114"), Qt::LeftButton, {}, QPoint(250, 30)); }});
    steps.push_back({500, [done] { say(done); }});
}

void run_when_shown(std::shared_ptr<const Steps> steps);

void press_f12() {
    QWidget* window = main_window();
    // No window manager runs under Xvfb: make the window active for its shortcut ourselves.
    window->activateWindow();
    QApplication::setActiveWindow(window);
    std::fprintf(stderr, "driver: F12 %lld\n",
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    QTest::keyClick(window, Qt::Key_F12);
}

// The status line's recent messages, oldest first (a level warning may follow the one looked for).
void say_status() {
    const QLabel* label = control<QLabel>("message");
    const QString history = label->toolTip().isEmpty() ? label->text() : label->toolTip();
    for (const QString& text : history.split(QLatin1Char('\n')))
        std::fprintf(stderr, "driver: message %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

template <typename W>
W* in_dialog(QWidget* dialog, const char* name) {
    W* w = dialog->findChild<W*>(QString::fromLatin1(name));
    if (!w) {
        std::fprintf(stderr, "driver: no %s in the set-up dialog\n", name);
        std::exit(3);
    }
    return w;
}

void fill_in_setup() {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog || dialog->objectName() != QStringLiteral("setup")) {
        say("no set-up dialog");
        std::exit(3);
    }
    say("set-up dialog shown");
    in_dialog<QLineEdit>(dialog, "setup_callsign")->setText(QStringLiteral("dl1abc"));
    in_dialog<QLineEdit>(dialog, "setup_locator")->setText(QStringLiteral("JO31ne"));
    for (const auto& [list, name] : {std::pair{"setup_tx_output", "SDR Loop Out Device"},
                                     std::pair{"setup_rx_input", "SDR Loop In Device"}}) {
        auto* combo = in_dialog<QComboBox>(dialog, list);
        combo->setCurrentIndex(combo->findText(QString::fromLatin1(name)));
    }
    std::fprintf(stderr, "driver: tone %lld\n",
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    in_dialog<QPushButton>(dialog, "setup_tx_tone")->click();
    say("tone played");
}

void ok_setup() {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog) in_dialog<QPushButton>(dialog, "setup_ok")->click();
    say(QApplication::activeModalWidget() ? "set-up dialog still open" : "set-up confirmed");
}

int heard_lines() {
    std::ifstream in("heard.csv");
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

// Display > Heard stations, Ctrl+L in it, and the Log contact dialog filled in and confirmed.
void log_contact() {
    if (!QTest::qWaitFor([] { return heard_lines() >= 2; }, 90'000)) {
        say("nothing heard");
        std::exit(3);
    }
    say("heard");
    control<QAction>("heard_stations")->trigger();
    QWidget* heard = control<QWidget>("heard_window");
    // No window manager runs under Xvfb: make the window active for its shortcut ourselves.
    heard->activateWindow();
    QApplication::setActiveWindow(heard);
    QTimer::singleShot(500, qApp, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != QStringLiteral("contact_dialog")) {
            say("no Log contact dialog");
            std::exit(3);
        }
        say("contact dialog shown");
        dialog->findChild<QLineEdit*>(QStringLiteral("contact_name"))->setText("Hans");
        dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
    QTest::keyClick(heard, Qt::Key_L, Qt::ControlModifier);
    say(QApplication::activeModalWidget() ? "contact dialog still open" : "contact logged");
}

bool transmit_order(const char* order, Steps& steps) {
    if (std::strcmp(order, "nocall") == 0) {
        steps.push_back({100, press_f12});
        steps.push_back({1500, say_status});
    } else if (std::strcmp(order, "contact") == 0) {
        steps.push_back({100, log_contact});
        steps.push_back({1000, say_status});
    } else if (std::strcmp(order, "setup") == 0) {
        steps.push_back({1000, fill_in_setup});  // after Start's one-second pause
        steps.push_back({1000, ok_setup});
        steps.push_back({2000, press_f12});
        steps.push_back({7000, say_status});
    } else {
        return false;
    }
    steps.push_back({300, [] { say("finished"); }});
    return true;
}

void drive() {
    const char* order = std::getenv("TARPO_DRIVE");
    if (!order) return;  // an ordinary run of the program
    const bool receive_first = std::strcmp(order, "tx-rx") != 0;
    auto steps = std::make_shared<Steps>();
    if (transmit_order(order, *steps)) {
        steps->insert(steps->begin(), {0, [] { say("started"); }});
        run_when_shown(steps);
        return;
    }
    steps->push_back({0, [] { say("started"); }});
    if (receive_first) add_phase(*steps, "receiving done");
    steps->push_back({100, [] { click("1118"); }});  // TX
    add_phase(*steps, "transmitting done");
    if (!receive_first) {
        steps->push_back({100, [] { click("1118"); }});  // back to receive after four ticks
        add_phase(*steps, "receiving done");
    }
    steps->push_back({300, [] { say("finished"); }});
    run_when_shown(steps);
}

void run_when_shown(std::shared_ptr<const Steps> steps) {
    // Start runs the 150 ms timer, then pauses for a second before the worker runs.
    auto* wait = new QTimer(qApp);
    QObject::connect(wait, &QTimer::timeout, qApp, [wait, steps] {
        QWidget* window = main_window();
        auto* tick = window ? window->findChild<QTimer*>(QStringLiteral("timer1")) : nullptr;
        if (!tick || !tick->isActive() || !window->isVisible()) return;
        wait->deleteLater();
        wait->stop();
        QTimer::singleShot(1500, qApp, [steps] { run_from(steps, 0); });
    });
    wait->start(100);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(drive)
