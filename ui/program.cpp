#include "ui/program.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "ui/main_window.h"

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

int run_program(int argc, char** argv, audio::EngineApi& engine) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--desktop") == 0) {
            enter_directory(desktop_directory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
        }
    }
    QApplication app(argc, argv);
    app.setWindowIcon(program_icon());
    MainWindow window(engine);
    window.show();
    window.start();
    if (!window.is_shut_down()) QApplication::exec();
    window.shutdown();  // the event loop may also have ended without the window being closed
    if (!window.worker_finished()) {
        std::fflush(stdout);
        std::_Exit(0);
    }
    return 0;
}

}  // namespace tarpo::ui
