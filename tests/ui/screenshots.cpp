// Pictures of the dialogs, the heard-stations window and the main window's rig readout for
// the README, drawn with example device names and an example rig (not a test):
//   QT_QPA_PLATFORM=offscreen screenshots OUTDIR
//   xvfb-run -a screenshots OUTDIR      (the same on a virtual X server)
#include <QApplication>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_engine.h"
#include "ui/dialogs.h"
#include "ui/heard_window.h"
#include "ui/main_window.h"
#include "ui/operator_panel.h"
#include "ui/radio_dialog.h"
#include "ui/setup_dialog.h"

namespace {

class ExampleEngine : public tarpo::ui::testing::FakeEngine {
  public:
    std::string sound_input_name(int index) override {
        static const char* names[] = {"USB Audio CODEC: - (hw:1,0)",
                                      "HDA Intel PCH: ALC892 (hw:0,0)", "SDR Loop In Device"};
        return names[index % 3];
    }
    std::string sound_output_name(int index) override {
        static const char* names[] = {"USB Audio CODEC: - (hw:1,0)",
                                      "HDA Intel PCH: ALC892 (hw:0,0)", "SDR Loop Out Device"};
        return names[index % 3];
    }
    std::vector<tarpo::ptt::RigModel> rig_models() override {
        return {{1, "Hamlib", "Dummy"},
                {2, "Hamlib", "NET rigctl"},
                {3073, "Icom", "IC-7300"},
                {2014, "Kenwood", "TS-590SG"},
                {1035, "Yaesu", "FT-991"}};
    }
    tarpo::ptt::RigReadout radio_readout() override {
        tarpo::ptt::RigReadout r;
        r.state = tarpo::ptt::RigReadout::State::connected;
        r.freq_hz = 14236000;
        std::snprintf(r.mode.data(), r.mode.size(), "USB");
        return r;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::filesystem::path out = argc > 1 ? argv[1] : "docs";
    std::filesystem::create_directories(out);
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / "tarpo-screenshots";
    std::filesystem::create_directories(scratch);
    ExampleEngine engine;
    engine.loop = true;
    engine.port_devices[1] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    engine.port_devices[2] = "/dev/ttyS0";
    engine.state.rx_input_device = 0;
    engine.state.tx_output_device = 0;
    engine.state.voice_input_device = 1;
    engine.state.voice_output_device = 1;

    tarpo::ui::SoundDialog sound(engine, scratch);
    sound.show();
    sound.grab().save(QString::fromStdString((out / "dialog-sound.png").string()));
    tarpo::ui::ComportDialog port(engine);
    port.show();
    port.grab().save(QString::fromStdString((out / "dialog-comport.png").string()));
    tarpo::engine::CallsignText callsign{};
    std::snprintf(callsign.data(), callsign.size(), "DL1ABC");
    tarpo::ui::CallsignDialog call(engine, callsign, scratch);
    call.show();
    call.grab().save(QString::fromStdString((out / "dialog-callsign.png").string()));
    tarpo::ui::GuideDialog guide(tarpo::ui::GuideDialog::Topic::guide);
    guide.show();
    guide.grab().save(QString::fromStdString((out / "dialog-guide.png").string()));
    tarpo::ui::AboutDialog about;
    about.show();
    about.grab().save(QString::fromStdString((out / "dialog-about.png").string()));

    const std::filesystem::path csv = scratch / "heard-example.csv";
    std::ofstream(csv)
        << "start_utc,end_utc,callsign,best_snr_db,mean_snr_db,audio_hz,dial_hz,rsid\n"
           "2026-12-08 12:41:07,2026-12-08 12:41:15,DL1ABC,27,24.3,1500.0,,no\n"
           "2026-12-08 12:55:40,2026-12-08 12:56:31,G4XYZ,19,15.8,1612.5,14236000,yes\n"
           "2026-12-08 13:02:12,2026-12-08 13:02:20,DL1ABC,31,28.9,1500.0,14236000,no\n";
    tarpo::ui::HeardWindow heard(csv, nullptr);
    heard.show();
    heard.grab().save(QString::fromStdString((out / "heard-stations.png").string()));
    std::filesystem::remove(csv);

    engine.radio.method = tarpo::ptt::PttKind::hamlib_cat;
    engine.radio.rig_model = 3073;
    engine.radio.rig_port = engine.port_devices[1];
    engine.radio.rig_baud = 115200;
    tarpo::ui::RadioDialog radio(engine, scratch);
    radio.show();
    radio.grab().save(QString::fromStdString((out / "dialog-radio.png").string()));

    tarpo::engine::CallsignText first = tarpo::engine::make_callsign_text("NOCALL");
    tarpo::ui::SetupDialog setup(engine, first, scratch);
    setup.show();
    setup.grab().save(QString::fromStdString((out / "dialog-setup.png").string()));

    tarpo::ui::WindowWaits waits;
    waits.pause = [] {};
    waits.sleep = [](int) {};
    tarpo::ui::MainWindow window(engine, scratch, waits);
    window.show();
    window.start();
    window.timer_tick();
    app.processEvents();
    window.grab().save(QString::fromStdString((out / "main-window-rig.png").string()));

    // The constellation of a signal at about 20 dB, its points fading over the last ticks,
    // after two calls were heard.
    for (const char* call : {"g4xyz", "dl1abc"}) {
        tarpo::modem::CallsignChannel sender;
        char text[80] = {};
        std::snprintf(text, sizeof text, "%s", call);
        sender.set_text(text);
        for (int i = 0; i < 120; ++i) engine.channel.receive_dibit(sender.next_dibit());
        for (int t = 0; t < 5; ++t) window.timer_tick();
    }
    engine.state.display_mode = tarpo::engine::display_constellation;
    std::uint64_t seed = 12345;
    auto noise = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(seed >> 11) / 9007199254740992.0 - 0.5;
    };
    for (int t = 0; t < 8; ++t) {
        auto& frame = engine.monitored.display.back();
        for (std::size_t k = 0; k < 32; ++k) {
            const double phase = 0.785398 + 1.570796 * static_cast<double>((k * 7 + t * 3) % 4);
            frame.constellation_re[k] = 1000.0 * (std::cos(phase) + 0.25 * noise());
            frame.constellation_im[k] = 1000.0 * (std::sin(phase) + 0.25 * noise());
        }
        frame.timing_marker = 4.0;
        engine.monitored.display.publish();
        window.timer_tick();
    }
    app.processEvents();
    window.grab().save(QString::fromStdString((out / "constellation.png").string()));
    // A message in the status line, as the rig link posts one.
    engine.messages.post(
        "Radio: the rig stopped answering (reading the frequency: Communication "
        "timed out); reconnecting.",
        false);
    window.timer_tick();
    app.processEvents();
    window.grab().save(QString::fromStdString((out / "main-window-message.png").string()));
    return 0;
}
