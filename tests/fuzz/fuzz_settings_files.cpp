// The settings-file readers of radio.txt, receiver.txt, operator.txt, sc_names.txt and
// txport.path: any bytes into each. One target for all five, the first byte choosing the
// reader, so that they share one corpus and one slot of the fuzzing time (the readers are
// small, and their line splitting and number parsing alike). Properties: whatever was read
// stays within its range, and a window fitted to a screen lies on it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "engine/device_names.h"
#include "engine/settings_files.h"
#include "ptt/port_by_name.h"
#include "ui/operator_layout.h"
#include "ui/radio_file.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void radio(const std::string& text) {
    std::istringstream in(text);
    tarpo::ptt::RadioSettings s;
    std::vector<std::string> notes;
    tarpo::ui::read_radio_settings(in, s, &notes);
    check(s.net_port >= 1 && s.net_port <= 65535 && s.cm108_gpio >= 1 && s.cm108_gpio <= 8);
    check(s.rig_model >= 1 && s.rig_model <= 99999 && s.rig_baud >= 0);
    // What is written reads back the same, without a note.
    std::istringstream again(tarpo::ui::format_radio_settings(s));
    tarpo::ptt::RadioSettings back;
    std::vector<std::string> none;
    tarpo::ui::read_radio_settings(again, back, &none);
    check(back == s && none.empty());
}

void window(const std::string& text) {
    std::vector<std::string> notes;
    const tarpo::ui::OperatorSettings s = tarpo::ui::read_operator_settings(text, &notes);
    // The station's state is applied as the operator would set it: only values in range.
    const tarpo::ui::StationState& st = s.station;
    check(!st.view || tarpo::ui::display_action_id(st.view->first, st.view->second) != 0);
    check(!st.squelch || (*st.squelch >= 0 && *st.squelch <= 100));
    check(!st.tuned_hz || (*st.tuned_hz >= 925.0 && *st.tuned_hz <= 2175.0));
    if (!s.window) return;
    const tarpo::ui::PixelRect least{0, 0, 526, 355};
    const std::vector<tarpo::ui::PixelRect> screens{{0, 0, 1920, 1050}, {1920, -200, 1280, 1024}};
    const tarpo::ui::PixelRect r = tarpo::ui::fit_window(*s.window, screens, least);
    check(r.width >= least.width && r.height >= least.height);
    bool on_one = false;
    for (const auto& sc : screens)
        on_one = on_one || (r.x >= sc.x && r.y >= sc.y && r.x + r.width <= sc.x + sc.width &&
                            r.y + r.height <= sc.y + sc.height);
    check(on_one);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
        case 0:
            radio(text);
            break;
        case 1: {
            bool enhanced = true;
            std::string note;
            if (tarpo::engine::read_receiver_choice(text, enhanced, note)) check(note.empty());
            break;
        }
        case 2:
            window(text);
            break;
        case 3: {
            std::istringstream in(text);
            tarpo::engine::DeviceNames names;
            tarpo::engine::read_device_names(in, names, nullptr);
            for (const std::string* n :
                 {&names.tx_output, &names.voice_input, &names.voice_output, &names.rx_input})
                check(n->size() <= 1000 && n->find('\n') == std::string::npos);
            break;
        }
        default: {
            const std::string path = tarpo::ptt::read_port_path(text);
            check(path.size() <= 4096 && path.find('\n') == std::string::npos);
            break;
        }
    }
    return 0;
}
