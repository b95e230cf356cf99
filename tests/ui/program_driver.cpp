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
#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
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

void drive() {
    const char* order = std::getenv("TARPO_DRIVE");
    if (!order) return;  // an ordinary run of the program
    const bool receive_first = std::strcmp(order, "tx-rx") != 0;
    auto steps = std::make_shared<Steps>();
    steps->push_back({0, [] { say("started"); }});
    if (receive_first) add_phase(*steps, "receiving done");
    steps->push_back({100, [] { click("1118"); }});  // TX
    add_phase(*steps, "transmitting done");
    if (!receive_first) {
        steps->push_back({100, [] { click("1118"); }});  // back to receive after four ticks
        add_phase(*steps, "receiving done");
    }
    steps->push_back({300, [] { say("finished"); }});
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
