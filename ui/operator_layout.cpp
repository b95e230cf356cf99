#include "ui/operator_layout.h"

#include <fstream>
#include <sstream>
#include <string>

namespace tarpo::ui {

int display_action_id(int mode, int carrier) {
    switch (mode) {
        case 1:
            return 40101;  // Scope
        case 2:
            return 40102;  // Spectrum
        case 3:
            return 40136;  // freqacq
        case 5:
            return 40140;  // PhaseErr/Carrier
        case 9:
            return 40103;  // Waterfall
        case 10:
            return 40146;  // Scrolling Waterfall
        case 4:
            if (carrier == 7) return 40133;
            if (carrier == 14) return 40138;
            if (carrier == 0) return 40137;
            return 0;
        default:
            return 0;
    }
}

std::vector<ScaleTick> frequency_scale() {
    std::vector<ScaleTick> ticks;
    for (int hz = 250; column_frequency(graph_columns - 1) >= hz; hz += 250) {
        if (hz < column_frequency(0)) continue;
        // Column x shows (x + 48) x 6.25 Hz; 250 Hz steps fall on whole columns.
        ticks.push_back({hz * 4 / 25 - 48, hz, hz % 500 == 0});
    }
    return ticks;
}

bool has_frequency_scale(int mode) {
    return mode == 2 || mode == 9 || mode == 10;
}

PixelRect stretched_rect(const PixelRect& r, const PixelRect& graph, int lower_y, int dx, int dy) {
    PixelRect s = r;
    const int graph_right = graph.x + graph.width;
    const int graph_bottom = graph.y + graph.height;
    if (r.x == graph.x && r.y == graph.y && r.width == graph.width && r.height == graph.height) {
        s.width += dx;
        s.height += dy;
        return s;
    }
    if (r.x >= graph_right) s.x += dx;
    if (r.y >= lower_y) s.y += dy;
    if (r.y >= graph_bottom && r.x < graph_right) {
        if (r.x == graph.x)
            s.width += dx;  // the callsign field under the graph
        else
            s.x += dx;
    }
    return s;
}

OperatorSettings load_operator_settings(const std::filesystem::path& path) {
    OperatorSettings settings;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "window") {
            PixelRect r;
            if (words >> r.x >> r.y >> r.width >> r.height && r.width > 0 && r.height > 0)
                settings.window = r;
        } else if (key == "record") {
            int on = 0;
            if (words >> on) settings.record = on != 0;
        }
    }
    return settings;
}

bool save_operator_settings(const std::filesystem::path& path, const OperatorSettings& settings) {
    std::ofstream out(path, std::ios::trunc);
    if (settings.window) {
        const PixelRect& r = *settings.window;
        out << "window " << r.x << ' ' << r.y << ' ' << r.width << ' ' << r.height << '\n';
    }
    out << "record " << (settings.record ? 1 : 0) << '\n';
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace tarpo::ui
