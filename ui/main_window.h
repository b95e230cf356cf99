// ui/: the Qt 6 program: main window, graph, settings dialogs and their files. The only
// folder that includes Qt; it may include any floor below it and reaches the engine through
// engine/engine_api.h (and the plain heard log and recorder), so its tests run against a fake
// engine; only main.cpp makes the real one.
// The main window (template 1000): menu, toggles, meters, squelch slider, the graph and the
// callsign field; Start, one slot per menu entry and button, the 150 ms timer tick and Shutdown in
// the order the program has always kept. It runs on the user-interface thread and talks to the
// engine only through EngineApi, its controls and its monitor.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/callsign_recent.h"
#include "engine/contact_log.h"
#include "engine/engine_api.h"
#include "engine/logger_link.h"
#include "engine/network_settings.h"
#include "engine/settings_files.h"
#include "engine/tx_switch.h"
#include "ui/control_ids.h"
#include "ui/graph_canvas.h"

class QAction;
class QLabel;
class QComboBox;
class QMenu;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace tarpo::ui {

class GraphWidget;
class OperatorPanel;

// The waits of Start and Shutdown, replaceable so that tests need not sleep.
struct WindowWaits {
    // Start's one-second pause after the timer starts. The default runs a nested event loop for
    // 1000 ms that holds back user input: the window appears and paints and the timer ticks,
    // but no command is served before the worker runs.
    std::function<void()> pause;
    // One of Shutdown's waits for the worker, in milliseconds (100). The default sleeps.
    std::function<void(int)> sleep;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // `directory` holds sc.txt and cs.txt (the working directory in the program).
    MainWindow(engine::EngineApi& engine, std::filesystem::path directory = ".",
               WindowWaits waits = {});
    ~MainWindow() override;

    // Start, steps 1 to 16: settings, engine, timer, pause, device dialog, worker.
    void start();
    // Whether Start opens the set-up dialog when the directory holds neither cs.txt nor sc.txt
    // (the program does; the window's tests start without settings and without it).
    void offer_setup(bool on) { offer_setup_ = on; }
    // One 150 ms tick: end-of-transmission countdown, spectrum_tick, graph, meters.
    void timer_tick();
    // Stops the worker and the timer and waits up to one second; runs once, from closeEvent.
    void shutdown();

    // Whether the worker confirmed its end (worker_run back to 1) during Shutdown.
    bool worker_confirmed() const { return worker_confirmed_; }
    // Whether the engine may be destroyed: no worker ever started, or it confirmed its end.
    bool worker_finished() const { return !worker_started_ || worker_confirmed_; }
    bool is_shut_down() const { return shut_down_; }
    // The exit status the shutdown leaves: 1 when the rig did not confirm it is unkeyed.
    int exit_status() const { return rig_unkeyed_ ? 0 : 1; }
    int tx_stop_countdown() const { return tx_switch_->countdown(); }
    // Who keys the transmitter: TX, F12, Escape, Tune and the voice keyer all ask it.
    engine::TxSwitch& tx_switch() { return *tx_switch_; }
    // The TX button and the operator's indicators after a request to the switch.
    void show_tx_state();
    const engine::CallsignText& callsign_text() const { return callsign_text_; }
    GraphWidget* graph() const { return graph_; }
    engine::WorkerNotifier& notifier();
    // The operator's additions (indicators, heard log, recording, voice keyer).
    OperatorPanel* operator_panel() const { return operator_; }

    // Puts a report of the worker into the callsign field; called on this thread.
    void show_report(const QString& text);
    // The worker's last keying report onto the ON AIR indicator; queued from the worker.
    Q_INVOKABLE void apply_keying_report();

    // Log contact on a heard entry: asks the reports in a dialog; OK appends the contact to
    // contacts.adi and tells the logger link. True when a contact was logged.
    bool log_contact(const engine::HeardEntry& entry);
    // network.txt as in use, and the link to the logger it asks for.
    const engine::NetworkSettings& network() const { return network_; }
    engine::LoggerLink& logger_link() { return *logger_link_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    class Notifier;

    void build_controls();
    void build_heard_row(QWidget* client);
    void build_meters(QWidget* client);
    void build_toggles(QWidget* client);
    void build_menu();
    void build_waterfall_menu(QMenu* display_menu);
    void check_waterfall_menu();
    bool load_settings();

    // What the menu entries and the buttons do, one slot each.
    void open_comport_dialog();
    void open_radio_dialog();
    void open_callsign_dialog();
    void open_sound_dialog();
    void open_about_dialog();
    void open_guide(int topic);  // a GuideDialog::Topic
    // Settings > Network: network.txt edited; OK applies it to the reports and the logger link.
    void open_network_dialog();
    // network.txt read (its notes to the status line) and the logger link built from it.
    void load_network();
    void apply_network(const engine::NetworkSettings& s);
    // The station as cs.txt and locator.txt say now.
    engine::OwnStation own_station() const;
    // Once a tick: the logger's Heartbeat when due, a Status when the station's state changed.
    void tell_logger();
    // "TARPO   V1.3 - <callsign>", and the settings directory's name when it is not the
    // desktop directory (two instances tell apart).
    void update_title();
    void exit_program();
    void show_display(int mode);
    // The constellation display of one carrier (0 lowest, 7 centre, 14 highest).
    void show_constellation(int carrier);
    void move_squelch(int position);  // 0 at the top .. 100
    void toggle_alc();
    void toggle_split();
    // Settings > Enhanced receiver: the choice goes to the worker and to receiver.txt.
    void toggle_enhanced_receiver();
    void toggle_txid();
    void toggle_rxid();
    void toggle_analog();
    // TX pressed: start transmitting, or end it four ticks later.
    void press_tx();
    void refresh_meters();
    void refresh_callsign();
    void graph_invalidate();
    void toggle(std::atomic<int>& flag);
    void set_squelch_indicator(bool open);
    void refresh_rig_readout();

    engine::EngineApi& engine_;
    std::filesystem::path directory_;
    WindowWaits waits_;
    std::unique_ptr<Notifier> notifier_;
    std::unique_ptr<engine::TxSwitch> tx_switch_;

    GraphWidget* graph_ = nullptr;
    QLineEdit* callsign_field_ = nullptr;  // read-only: what was heard, not what we send
    QComboBox* recent_calls_ = nullptr;
    QLineEdit* snr_field_ = nullptr;
    QProgressBar* level_bar_ = nullptr;
    QRadioButton* squelch_indicator_ = nullptr;
    QSlider* squelch_slider_ = nullptr;
    QProgressBar* snr_bar_ = nullptr;
    QPushButton* tx_button_ = nullptr;
    QPushButton* alc_button_ = nullptr;
    QPushButton* split_button_ = nullptr;
    QPushButton* txid_button_ = nullptr;
    QPushButton* rxid_button_ = nullptr;
    QPushButton* analog_button_ = nullptr;
    QTimer* timer_ = nullptr;
    OperatorPanel* operator_ = nullptr;
    QLabel* rig_readout_ = nullptr;  // the rig's dial and mode, in the menu bar's corner

    engine::CallsignText callsign_text_{};
    QAction* enhanced_action_ = nullptr;  // Settings > Enhanced receiver, checkable
    int meter_tick_ = 0;
    int shown_squelch_ = 0;
    int shown_snr_ = 0;
    std::uint32_t shown_callsign_count_ = 0;
    engine::RecentCalls recent_;
    WaterfallScale waterfall_{};  // display.txt
    struct WaterfallChoice {
        QAction* action;
        void (*apply)(WaterfallScale&, double);
    };
    std::vector<WaterfallChoice> waterfall_actions_;
    bool started_ = false;
    bool offer_setup_ = false;
    bool shut_down_ = false;
    bool rig_unkeyed_ = true;
    bool ptt_settled_ = true;  // the serial lines or the CM108 took the last keying
    bool worker_started_ = false;
    bool worker_confirmed_ = false;
    GraphInput graph_input_;  // filled each tick; kept here to avoid 7 kB on the stack
    engine::NetworkSettings network_;
    std::unique_ptr<engine::LoggerLink> logger_link_;
    engine::ContactLog contact_log_{directory_};
    std::string locator_;  // locator.txt, read with network.txt and at each contact
};

}  // namespace tarpo::ui
