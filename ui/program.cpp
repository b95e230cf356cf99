#include "ui/program.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "ui/main_window.h"
#include "ui/operator_panel.h"
#include "ui/program_options.h"

namespace tarpo::ui {

std::filesystem::path desktop_directory(const char* xdg_config_home, const char* home) {
    if (xdg_config_home != nullptr && xdg_config_home[0] != '\0') {
        const std::filesystem::path base(xdg_config_home);
        if (base.is_absolute()) return base / "tarpo";
    }
    if (home != nullptr && home[0] != '\0')
        return std::filesystem::path(home) / ".config" / "tarpo";
    return {};
}

bool enter_directory(const std::filesystem::path& directory) {
    if (directory.empty()) return false;
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return false;
    std::filesystem::current_path(directory, error);
    return !error;
}

QIcon program_icon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        QPixmap pixmap(64, 64);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(16, 32, 80));
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        // Fifteen carriers, the centre one (the pilot) red and tallest.
        for (int i = 0; i < 15; ++i) {
            const double height = i == 7 ? 40 : 22 + 6 * ((i * 5) % 3);
            p.setBrush(i == 7 ? QColor(255, 64, 64) : QColor(80, 255, 120));
            p.drawRect(QRectF(5.5 + 3.6 * i, 54 - height, 2.4, height));
        }
        p.end();
        icon.addPixmap(pixmap.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    return icon;
}

namespace {

// A termination signal becomes one byte on this socket pair, read on the user-interface
// thread, since a signal handler may do nothing more.
int signal_pipe[2] = {-1, -1};
void (*signal_unkey)() = nullptr;

void on_signal(int) {
    if (signal_unkey) signal_unkey();
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
}

void close_on_signals(QWidget& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) != 0) return;
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signal_pipe[0], &byte, 1);
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void trace_controls(QWidget& window) {
    if (auto* field = window.findChild<QLineEdit*>(QStringLiteral("1115"))) {
        QObject::connect(field, &QLineEdit::textChanged, [](const QString& text) {
            std::fprintf(stderr, "1115 %s\n", text.toLocal8Bit().constData());
            std::fflush(stderr);
        });
    }
    if (auto* panel = window.findChild<OperatorPanel*>(QStringLiteral("operator"))) {
        // With the wall-clock time in milliseconds, to set beside the PTT as others see it.
        QObject::connect(panel, &OperatorPanel::on_air_changed, [](bool on) {
            std::fprintf(stderr, "onair %d %lld\n", on ? 1 : 0,
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
            std::fflush(stderr);
        });
    }
    if (auto* squelch = window.findChild<QRadioButton*>(QStringLiteral("1126"))) {
        QObject::connect(squelch, &QRadioButton::toggled, [](bool on) {
            std::fprintf(stderr, "1126 %d\n", on ? 1 : 0);
            std::fflush(stderr);
        });
    }
}

}  // namespace

int run_program(int argc, char** argv, engine::EngineApi& engine, void (*unkey_now)()) {
    signal_unkey = unkey_now;
    const ProgramOptions options = parse_program_options(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "%s\n", options.error.c_str());
        return 2;
    }
    if (options.help || options.version) {
        std::fputs((options.help ? usage_text() : version_text()).c_str(), stdout);
        return 0;
    }
    engine.radio_trace(options.verbose);
    if (options.desktop)
        enter_directory(desktop_directory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
    QApplication app(argc, argv);
    app.setWindowIcon(program_icon());
    MainWindow window(engine);
    close_on_signals(window);
    if (options.trace_controls) trace_controls(window);
    window.show();
    window.start();
    if (!options.transmit.empty() && !window.is_shut_down()) {
        QString error;
        if (!window.operator_panel()->transmit_file(QString::fromStdString(options.transmit),
                                                    error))
            std::fprintf(stderr, "tarpo: %s\n", error.toLocal8Bit().constData());
    }
    if (!window.is_shut_down()) QApplication::exec();
    window.shutdown();  // the event loop may also have ended without the window being closed
    if (!window.worker_finished()) {
        std::fflush(stdout);
        std::_Exit(window.exit_status());
    }
    return window.exit_status();
}

}  // namespace tarpo::ui
