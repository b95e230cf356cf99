// What the operator gets around the fixed main window, kept apart from the main window's own
// code: the ON AIR indicator and the tuned frequency in a status line, the heard-station log
// and its window, recording of received speech, the voice keyer, check marks on the Display
// menu, tooltips, the PTT keys (F12, Escape), the transmit drive with its peak meter and Tune
// (settings in transmit.txt), and a resizable window whose place and size are
// remembered in operator.txt. The main window creates it, calls tick() from its timer and
// passes on the worker's keying and RSID reports.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/engine_api.h"
#include "engine/heard_log.h"
#include "engine/level_watch.h"
#include "engine/network_settings.h"
#include "engine/reception_desk.h"
#include "engine/recorder.h"
#include "engine/spot_reporter.h"
#include "engine/tx_switch.h"
#include "ui/operator_layout.h"

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;

namespace tarpo::ui {

class HeardWindow;
class MainWindow;

class OperatorPanel : public QObject {
    Q_OBJECT
  public:
    OperatorPanel(MainWindow& window, engine::EngineApi& engine, std::filesystem::path directory);
    ~OperatorPanel() override;

    // Once per display tick, after the main window's own work.
    void tick();
    // The worker keyed (true) or unkeyed the transmitter.
    // on: the transmitter is keyed (as the rig confirms it, where it can); confirmed: false
    // while the rig has not confirmed the state asked of it, shown in a look of its own.
    void set_on_air(bool on, bool confirmed = true);
    bool on_air() const { return on_air_; }
    // An RSID burst was recognised.
    void rsid_seen() { rsid_pending_ = true; }
    // Sends a sound file with the voice keyer; false with a reason when it cannot.
    bool transmit_file(const QString& path, QString& error);
    // The transmit switch's state on the Tune button, and its message in the status line.
    void show_tx_state();
    // Ends the running reception (logged when it qualifies) and saves the window's place
    // and the station's state.
    void close_down();
    // Start: the station's state of operator.txt (view, toggles, squelch, tuned frequency)
    // applied as the operator would set it, through the menu, the buttons, the slider and a
    // tuning request.
    void restore_state();
    // One meter reading of the receiver's input (the largest sample since the last reading,
    // negative for none), every `seconds`: warns in the status line of clipping or silence.
    void level_seen(int peak, double seconds);
    // Puts a message in the status line (the latest shown, the last few in its tooltip).
    void show_message(const QString& text);
    // Reception reports as `network` asks, from the callsign and locator of cs.txt and
    // locator.txt: the reporter running is stopped (what waits is sent) and another made.
    void apply_network(const engine::NetworkSettings& network);

    // Filled by the radio connection when it knows the rig's dial frequency (Hz).
    std::function<std::optional<double>()> dial_frequency;

  signals:
    void on_air_changed(bool on);
    void heard(const QString& csv_line);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build_status();
    void build_menus();
    void make_resizable();
    void restore_geometry();
    void set_tooltips();
    void build_transmit_controls();
    void show_keyer_failure();
    void refresh_tx_peak();
    void log_step();
    void log_entry(const engine::HeardEntry& entry);
    void say_desk_errors(const engine::DeskStep& step);
    void take_reporter_notes();
    void update_display_checks();
    void lay_out_client();
    void capture_state();
    void take_messages();

    MainWindow& window_;
    engine::EngineApi& engine_;
    std::filesystem::path directory_;
    OperatorSettings settings_;
    QLabel* on_air_label_ = nullptr;
    QLabel* frequency_label_ = nullptr;
    QLabel* record_label_ = nullptr;
    QPushButton* tune_button_ = nullptr;
    QSlider* drive_slider_ = nullptr;
    QLabel* drive_label_ = nullptr;
    QProgressBar* tx_peak_bar_ = nullptr;
    engine::TransmitSettings transmit_;
    QLabel* message_label_ = nullptr;
    QStringList message_history_;  // newest last
    engine::LevelWatch level_watch_;
    QAction* record_action_ = nullptr;
    HeardWindow* heard_window_ = nullptr;
    QWidget* client_ = nullptr;
    std::vector<std::pair<QWidget*, PixelRect>> design_;  // each control's design rectangle
    PixelRect graph_rect_;
    QSize design_size_;
    bool on_air_ = false;
    bool on_air_confirmed_ = true;
    bool rsid_pending_ = false;
    bool closed_ = false;
    engine::ReceptionDesk desk_{directory_};
    std::unique_ptr<engine::SpotReporter> reporter_;  // none while reports are off
    std::vector<std::int16_t> speech_;
};

}  // namespace tarpo::ui
