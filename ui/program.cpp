#include "ui/program.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

#include "ui/main_window.h"
#include "ui/operator_panel.h"
#include "ui/placement.h"
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

namespace {

// Whether a connection to `address` is accepted within a second; the reason when not.
bool accepts(int family, const sockaddr* address, socklen_t length, std::string& why) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    int error = 0;
    if (::connect(fd, address, length) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            socklen_t size = sizeof error;
            error = ::poll(&p, 1, 1000) == 1 ? 0 : ETIMEDOUT;
            if (error == 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        }
    }
    ::close(fd);
    if (error != 0) why = std::strerror(error);
    return error == 0;
}

bool local_x_accepts(const std::string& number, std::string& why) {
    const std::string path = "/tmp/.X11-unix/X" + number;
    for (const bool abstract : {true, false}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                                   (abstract ? 1 : 0));
        if (accepts(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length, why)) return true;
    }
    return false;
}

bool tcp_x_accepts(const std::string& host, int port, std::string& why) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<std::uint16_t>(port));
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = v4.sin_port;
    const std::string numeric = host == "localhost" ? "127.0.0.1" : host;
    if (::inet_pton(AF_INET, numeric.c_str(), &v4.sin_addr) == 1)
        return accepts(AF_INET, reinterpret_cast<const sockaddr*>(&v4), sizeof v4, why);
    if (::inet_pton(AF_INET6, numeric.c_str(), &v6.sin6_addr) == 1)
        return accepts(AF_INET6, reinterpret_cast<const sockaddr*>(&v6), sizeof v6, why);
    return true;  // a host name: not looked up here
}

// Platforms that need a display server: X (xcb) and Wayland.
bool needs_display_server(std::string_view platforms) {
    while (!platforms.empty()) {
        const std::size_t end = std::min(platforms.find(';'), platforms.size());
        const std::string_view name = platforms.substr(0, end);
        if (name.empty() || name.substr(0, 3) == "xcb" || name.substr(0, 7) == "wayland")
            return true;
        platforms.remove_prefix(std::min(end + 1, platforms.size()));
    }
    return false;
}

}  // namespace

std::string display_problem(const char* display, const char* wayland_display,
                            const char* platform) {
    if (platform != nullptr && platform[0] != '\0' && !needs_display_server(platform)) return {};
    const bool x = display != nullptr && display[0] != '\0';
    if (wayland_display != nullptr && wayland_display[0] != '\0') return {};
    if (!x) return "neither DISPLAY nor WAYLAND_DISPLAY is set";
    // [host]:number[.screen]
    const std::string text(display);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || text[0] == '/') return {};
    const std::string host = text.substr(0, colon);
    const std::string number = text.substr(colon + 1, text.find('.', colon) - colon - 1);
    if (number.empty() || number.size() > 5 ||
        number.find_first_not_of("0123456789") != std::string::npos ||
        host.find(':') != std::string::npos)
        return {};
    std::string why;
    const bool ok = host.empty() || host == "unix"
                        ? local_x_accepts(number, why)
                        : tcp_x_accepts(host, 6000 + std::stoi(number), why);
    return ok ? std::string()
              : "the X server of DISPLAY=" + text + " cannot be reached (" + why + ")";
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
    if (auto* field = window.findChild<QLineEdit*>(control_name(id_callsign))) {
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
    if (auto* squelch = window.findChild<QRadioButton*>(control_name(id_squelch_indicator))) {
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
    const std::string no_display = display_problem(
        std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM"));
    if (!no_display.empty()) {
        std::fprintf(stderr,
                     "tarpo: no display: %s; set DISPLAY, or use tarpo-cli for work without a "
                     "window\n",
                     no_display.c_str());
        return 2;
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
    window.offer_setup(true);
    window.start();
    if (options.trace_controls) {
        std::fprintf(stderr, "started\n");
        std::fflush(stderr);
    }
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
