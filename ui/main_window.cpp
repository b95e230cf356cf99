#include "ui/main_window.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "engine/device_names.h"
#include "external/settings_text.h"
#include "modem/callsign.h"
#include "net/callsign_check.h"
#include "ui/dialogs.h"
#include "ui/display_settings.h"
#include "ui/graph_widget.h"
#include "ui/heard_window.h"
#include "ui/network_dialog.h"
#include "ui/operator_layout.h"
#include "ui/operator_panel.h"
#include "ui/placement.h"
#include "ui/program.h"
#include "ui/radio_dialog.h"
#include "ui/radio_file.h"
#include "ui/setup_dialog.h"
#include "ui/ui_maths.h"

namespace tarpo::ui {

namespace {

constexpr int sound_rate = 48000;  // Hz
constexpr int timer_period_ms = 150;
constexpr int start_pause_ms = 1000;
constexpr int shutdown_waits = 10;  // of shutdown_wait_ms each: at most one second
constexpr int shutdown_wait_ms = 100;
constexpr int meter_period_ticks = 5;  // the meters change every 750 ms

void default_pause() {
    QEventLoop loop;
    QTimer::singleShot(start_pause_ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void default_sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

// Carries the worker's RSID report to the callsign field: the text is copied on the worker's
// thread and set by a queued call on the user-interface thread.
class MainWindow::Notifier final : public engine::WorkerNotifier {
  public:
    explicit Notifier(MainWindow* window) : window_(window) {}
    void rsid_report(const char* text) override {
        const QString copy = QString::fromLatin1(text);
        QMetaObject::invokeMethod(
            window_,
            [window = window_, copy] {
                window->show_report(copy);
                window->operator_panel()->rsid_seen();
            },
            Qt::QueuedConnection);
    }
    // The state crosses in an atomic and the call by name: a queued lambda's captures would
    // be written on the worker's thread and read on this one behind Qt's own lock.
    void keying(bool on) override {
        keyed_.store(on ? 1 : 0);
        QMetaObject::invokeMethod(window_, "apply_keying_report", Qt::QueuedConnection);
    }
    bool keyed() const { return keyed_.load() != 0; }

  private:
    MainWindow* window_;
    std::atomic<int> keyed_{0};
};

MainWindow::MainWindow(engine::EngineApi& engine, std::filesystem::path directory,
                       WindowWaits waits)
    : engine_(engine),
      directory_(std::move(directory)),
      waits_(std::move(waits)),
      notifier_(std::make_unique<Notifier>(this)),
      tx_switch_(std::make_unique<engine::TxSwitch>(
          engine_, [this] { return engine::callsign_string(callsign_text_); })) {
    if (!waits_.pause) waits_.pause = default_pause;
    if (!waits_.sleep) waits_.sleep = default_sleep;
    callsign_text_ = engine::make_callsign_text("NOCALL");

    setObjectName(control_name(id_main_window));
    setWindowTitle(QStringLiteral("TARPO   V1.3"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(dialog_font(8));
    build_menu();
    build_controls();

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("timer1"));
    timer_->setInterval(timer_period_ms);
    connect(timer_, &QTimer::timeout, this, &MainWindow::timer_tick);

    move(dialog_x(50), dialog_y(100));
    operator_ = new OperatorPanel(*this, engine_, directory_);
    // The heard log records the rig's dial frequency while a rig answers through Hamlib
    // (the PTT's rig, or one read for its dial alone).
    operator_->dial_frequency = [this]() -> std::optional<double> {
        const ptt::RigReadout rig = engine_.radio_readout();
        if (rig.state != ptt::RigReadout::State::connected || rig.freq_hz <= 0) return std::nullopt;
        return rig.freq_hz;
    };
    load_network();
}

MainWindow::~MainWindow() = default;

void MainWindow::apply_keying_report() {
    const bool keyed = notifier_->keyed();
    const ptt::RigReadout rig = engine_.radio_readout();
    // Without a rig that answers for its PTT, ON AIR is what the worker keyed; with one,
    // what the rig confirmed, and a look of its own while it has not confirmed what we want.
    // The SDR loop device, when it is the output, is keyed in place of the rig.
    if (rig.state == ptt::RigReadout::State::none || !rig.keys ||
        engine::tx_output_is_loop(engine_))
        return operator_->set_on_air(keyed, ptt_settled_);
    operator_->set_on_air(rig.keyed, rig.confirmed && rig.keyed == keyed);
}

engine::WorkerNotifier& MainWindow::notifier() {
    return *notifier_;
}

void MainWindow::build_menu() {
    auto add = [this](auto* parent, const char* text, ControlId id, auto slot) {
        QAction* action = parent->addAction(QString::fromLatin1(text));
        action->setObjectName(control_name(id));
        connect(action, &QAction::triggered, this, slot);
    };
    auto display = [this](int mode) { return [this, mode] { show_display(mode); }; };
    auto constellation = [this](int carrier) {
        return [this, carrier] { show_constellation(carrier); };
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName(control_name(id_menu_bar));
    QMenu* settings_menu = bar->addMenu(QStringLiteral("&Settings"));
    add(settings_menu, "ComPort", id_comport, &MainWindow::open_comport_dialog);
    add(settings_menu, "Radio", id_radio, &MainWindow::open_radio_dialog);
    add(settings_menu, "Callsign", id_callsign_menu, &MainWindow::open_callsign_dialog);
    add(settings_menu, "Network", id_network, &MainWindow::open_network_dialog);
    add(settings_menu, "Enhanced receiver", id_enhanced_receiver,
        &MainWindow::toggle_enhanced_receiver);
    enhanced_action_ = settings_menu->actions().back();
    enhanced_action_->setCheckable(true);
    add(settings_menu, "E&xit", id_exit, &MainWindow::exit_program);
    QMenu* display_menu = bar->addMenu(QStringLiteral("&Display"));
    QMenu* demod_menu = nullptr;
    for (const DisplayView& v : display_views) {
        if (v.demod && !demod_menu) demod_menu = display_menu->addMenu(QStringLiteral("Demod"));
        QMenu* menu = v.demod ? demod_menu : display_menu;
        if (v.mode == engine::display_constellation)
            add(menu, v.text, v.id, constellation(v.carrier));
        else
            add(menu, v.text, v.id, display(v.mode));
    }
    build_waterfall_menu(display_menu);
    add(bar, "S&ound", id_sound, &MainWindow::open_sound_dialog);
    add(bar, "&About", id_about, &MainWindow::open_about_dialog);
    QMenu* help_menu = bar->addMenu(QStringLiteral("&Help"));
    add(help_menu, "&Operating guide", id_guide,
        [this] { open_guide(static_cast<int>(GuideDialog::Topic::guide)); });
    add(help_menu, "&Keys", id_keys,
        [this] { open_guide(static_cast<int>(GuideDialog::Topic::keys)); });
    rig_readout_ = new QLabel(bar);
    rig_readout_->setObjectName(QStringLiteral("rig_readout"));
    // Room for the longest readout from the start: the menu bar lays its corner out once.
    rig_readout_->setMinimumWidth(
        rig_readout_->fontMetrics().horizontalAdvance(QStringLiteral("00.000.000 PKTUSB TX ")));
    rig_readout_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bar->setCornerWidget(rig_readout_);
}

void MainWindow::build_controls() {
    auto* client = new QWidget(this);
    client->setFixedSize(dialog_x(351), dialog_y(194));
    setCentralWidget(client);

    // Group boxes first, so that the controls they frame lie above them.
    make_control<QGroupBox>(client, "", 7, 2, 27, 103, QStringLiteral("SNR"));
    make_control<QGroupBox>(client, "", 316, 1, 29, 94, QStringLiteral("SQ"));
    make_control<QGroupBox>(client, "", 7, 109, 27, 78, QStringLiteral("Lev"));

    // The picture's 160 units and the frequency scale's strip under it.
    graph_ = make_control<GraphWidget>(client, id_graph, 42, 2, 267, 168);
    connect(graph_, &GraphWidget::acquisition_requested, this,
            [this] { engine_.request_acquisition(); });
    connect(graph_, &GraphWidget::tuning_requested, this,
            [this](int column) { engine_.request_tuning_at(column); });

    build_heard_row(client);
    build_meters(client);
    build_toggles(client);
    setFixedSize(client->width(), client->height() + menuBar()->sizeHint().height());
}

// Display > Waterfall scale: where white lies, how far below it black does, and the speed;
// each choice is remembered in display.txt.
void MainWindow::build_waterfall_menu(QMenu* display_menu) {
    QMenu* menu = display_menu->addMenu(QStringLiteral("Waterfall scale"));
    menu->setObjectName(QStringLiteral("waterfall_scale"));
    auto group = [this, menu](const QString& title, const std::vector<double>& values,
                              const QString& unit, auto apply) {
        menu->addSection(title);
        auto* choices = new QActionGroup(menu);
        for (const double v : values) {
            QAction* a = menu->addAction(QString::number(v) + unit);
            a->setCheckable(true);
            a->setData(v);
            choices->addAction(a);
            waterfall_actions_.push_back({a, apply});
            connect(a, &QAction::triggered, this, [this, a, apply] {
                apply(waterfall_, a->data().toDouble());
                save_display_settings(directory_ / display_file_name, waterfall_);
            });
        }
    };
    group(QStringLiteral("White at"), {0, -10, -20, -30, -40}, QStringLiteral(" dBFS"),
          [](WaterfallScale& w, double v) { w.top_dbfs = v; });
    group(QStringLiteral("Range"), {40, 60, 80, 100}, QStringLiteral(" dB"),
          [](WaterfallScale& w, double v) { w.range_db = v; });
    group(QStringLiteral("Speed"), {1, 2, 4}, QStringLiteral(" rows a tick"),
          [](WaterfallScale& w, double v) { w.rows_per_tick = static_cast<int>(v); });
}

// Checks the choices that display.txt's settings match.
void MainWindow::check_waterfall_menu() {
    for (const auto& [action, apply] : waterfall_actions_) {
        WaterfallScale w = waterfall_;
        apply(w, action->data().toDouble());
        action->setChecked(w == waterfall_);
    }
}

// Under the graph: the confirmed callsign (or an RSID report), read-only, and the calls heard
// recently. One row, so that a wider window widens it as a whole.
void MainWindow::build_heard_row(QWidget* client) {
    auto* heard_row = make_control<QWidget>(client, "heard_row", 42, 173, 199, 14);
    auto* row = new QHBoxLayout(heard_row);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* label = new QLabel(QStringLiteral("Heard:"), heard_row);
    callsign_field_ = new QLineEdit(heard_row);
    callsign_field_->setObjectName(control_name(id_callsign));
    callsign_field_->setReadOnly(true);
    label->setBuddy(callsign_field_);
    recent_calls_ = new QComboBox(heard_row);
    recent_calls_->setObjectName(QStringLiteral("recent_calls"));
    recent_calls_->setToolTip(QStringLiteral("Calls heard recently (UTC)"));
    recent_calls_->setPlaceholderText(QStringLiteral("Recent"));
    recent_calls_->setCurrentIndex(-1);
    row->addWidget(label);
    row->addWidget(callsign_field_, 1);
    row->addWidget(recent_calls_, 1);
}

void MainWindow::build_meters(QWidget* client) {
    snr_field_ = make_control<QLineEdit>(client, id_snr_field, 12, 87, 18, 12);
    snr_field_->setEnabled(false);
    snr_field_->setAlignment(Qt::AlignCenter);
    snr_field_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), snr_field_));

    auto make_bar = [client](ControlId id, int x, int y, int w, int h) {
        auto* bar = make_control<QProgressBar>(client, id, x, y, w, h);
        bar->setOrientation(Qt::Vertical);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    };
    level_bar_ = make_bar(id_level_bar, 15, 123, 11, 57);
    snr_bar_ = make_bar(id_snr_bar, 15, 14, 11, 68);

    squelch_indicator_ = make_control<QRadioButton>(client, id_squelch_indicator, 326, 75, 10, 12);

    // Position 0 at the top and 100 at the bottom, the Up key moving toward 0.
    squelch_slider_ =
        make_control<QSlider>(client, id_squelch_slider, 325, 13, 12, 61, Qt::Vertical);
    squelch_slider_->setRange(0, 100);
    squelch_slider_->setPageStep(20);
    squelch_slider_->setInvertedAppearance(true);
    squelch_slider_->setInvertedControls(true);
    squelch_slider_->setTickPosition(QSlider::NoTicks);
    connect(squelch_slider_, &QSlider::valueChanged, this, &MainWindow::move_squelch);
}

void MainWindow::build_toggles(QWidget* client) {
    auto make_toggle = [this, client](ControlId id, const char* caption, int x, int y, int w, int h,
                                      void (MainWindow::*slot)()) {
        auto* button =
            make_control<QPushButton>(client, id, x, y, w, h, QString::fromLatin1(caption));
        button->setCheckable(true);
        connect(button, &QPushButton::clicked, this, slot);
        return button;
    };
    alc_button_ = make_toggle(id_alc, "ALC", 316, 116, 29, 14, &MainWindow::toggle_alc);
    tx_button_ = make_toggle(id_tx, "TX", 316, 148, 29, 39, &MainWindow::press_tx);
    split_button_ = make_toggle(id_split, "Split", 316, 100, 29, 14, &MainWindow::toggle_split);
    txid_button_ = make_toggle(id_txid, "TXID", 283, 172, 26, 15, &MainWindow::toggle_txid);
    rxid_button_ = make_toggle(id_rxid, "RXID", 249, 172, 27, 15, &MainWindow::toggle_rxid);
    analog_button_ = make_toggle(id_analog, "Analog", 316, 132, 29, 14, &MainWindow::toggle_analog);
}

// Start's settings: sc.txt and cs.txt into the engine, then the sound devices; an index at or
// beyond its list's count is replaced by 0 and asks for a choice (the return value); negative
// indexes (no selection: the default device) pass.
bool MainWindow::load_settings() {
    engine::Controls& s = engine_.controls();

    engine::SoundChoices choices{s.tx_output_device, s.voice_input_device, s.voice_output_device,
                                 s.rx_input_device};
    engine::load_sound_choices(directory_ / engine::sound_file_name, choices);
    s.tx_output_device = choices.tx_output_device;
    s.voice_input_device = choices.voice_input_device;
    s.voice_output_device = choices.voice_output_device;
    s.rx_input_device = choices.rx_input_device;

    engine::load_callsign(directory_ / engine::callsign_file_name, callsign_text_);
    engine_.callsign_set(callsign_text_.data());

    waterfall_ = load_display_settings(directory_ / display_file_name);
    check_waterfall_menu();

    bool enhanced = true;  // without a file of its own, the enhanced receiver
    engine::load_receiver_choice(directory_ / engine::receiver_file_name, enhanced);
    s.enhanced_receiver = enhanced ? 1 : 0;
    enhanced_action_->setChecked(enhanced);

    engine_.sound_init(sound_rate);

    // A saved number that now points at another device follows the device's name.
    bool choice_needed = false;
    engine::DeviceNames names;
    if (engine::load_device_names(directory_ / engine::device_names_file_name, names))
        engine::follow_device_names(engine_, names, choice_needed);

    // An index at or beyond its list's count is replaced by 0 and asks for a choice; negative
    // indexes (no selection: the default device) pass.
    auto check = [&choice_needed](std::atomic<int>& index, int count) {
        if (index >= count) {
            index = 0;
            choice_needed = true;
        }
    };
    const int outputs = engine_.sound_output_count();
    const int inputs = engine_.sound_input_count();
    check(s.tx_output_device, outputs);
    check(s.rx_input_device, inputs);
    check(s.voice_output_device, outputs);
    check(s.voice_input_device, inputs);
    return choice_needed;
}

void MainWindow::start() {
    if (started_) return;
    started_ = true;
    squelch_slider_->setValue(50);
    const bool choice_needed = load_settings();
    update_title();
    const char port = engine_.ptt_port_load();
    engine_.controls().ptt_port_choice = port;
    engine_.ptt_port_open(port);
    ptt::RadioSettings radio;
    load_radio_settings(directory_ / radio_file_name, radio);
    if (radio.method == ptt::PttKind::hamlib_cat) {
        std::vector<int> models;
        for (const ptt::RigModel& m : engine_.rig_models()) models.push_back(m.model);
        check_rig_model(radio, models);
    }
    engine_.radio_apply(radio);
    operator_->restore_state();
    graph_->display_init();
    timer_->start();
    waits_.pause();

    if (offer_setup_ && !shut_down_ && first_start(directory_)) {
        SetupDialog dialog(engine_, callsign_text_, directory_, this);
        dialog.exec();
    } else if (choice_needed && !shut_down_) {
        SoundDialog dialog(engine_, directory_, this);
        dialog.exec();
    }
    // A window closed during the pause or the dialog has already shut down: no worker then.
    if (shut_down_) return;
    engine_.start_worker(*notifier_);
    worker_started_ = true;
}

void MainWindow::toggle(std::atomic<int>& flag) {
    flag = flag ? 0 : 1;
}

void MainWindow::open_comport_dialog() {
    ComportDialog dialog(engine_, this);
    dialog.exec();
}

void MainWindow::open_radio_dialog() {
    RadioDialog dialog(engine_, directory_, this);
    dialog.exec();
}

void MainWindow::open_callsign_dialog() {
    CallsignDialog dialog(engine_, callsign_text_, directory_, this);
    if (dialog.exec() == QDialog::Accepted) update_title();
}

void MainWindow::open_sound_dialog() {
    SoundDialog dialog(engine_, directory_, this);
    dialog.exec();
}

void MainWindow::open_network_dialog() {
    const engine::OwnStation own = own_station();
    NetworkDialog dialog(network_, directory_, own.callsign, own.locator, this);
    if (dialog.exec() == QDialog::Accepted) apply_network(dialog.accepted_settings());
}

void MainWindow::load_network() {
    const std::filesystem::path file = directory_ / engine::network_file_name;
    std::vector<std::string> notes;
    if (const auto text = read_settings_text(file.c_str()))
        network_ = engine::read_network_settings(*text, &notes);
    for (const std::string& note : notes)
        operator_->show_message(QString::fromStdString(file.string() + " " + note));
    apply_network(network_);
}

void MainWindow::apply_network(const engine::NetworkSettings& s) {
    // The link is rebuilt only when its destinations change: its end may take a second.
    const bool same_link = logger_link_ && s.logger == network_.logger &&
                           s.logger_to == network_.logger_to && s.adif == network_.adif &&
                           s.adif_to == network_.adif_to;
    network_ = s;
    locator_ = own_station().locator;
    if (!same_link) {
        if (logger_link_) logger_link_->stop();
        logger_link_ = std::make_unique<engine::LoggerLink>(network_);
    }
    operator_->apply_network(network_);
}

engine::OwnStation MainWindow::own_station() const {
    const std::filesystem::path file = directory_ / locator_file_name;
    std::string locator = read_settings_text(file.c_str()).value_or(std::string());
    locator = locator.substr(0, locator.find_first_of("\r\n"));
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!locator.empty() && blank(locator.back())) locator.pop_back();
    while (!locator.empty() && blank(locator.front())) locator.erase(locator.begin());
    return {QString::fromLatin1(engine::callsign_string(callsign_text_)).trimmed().toStdString(),
            locator};
}

bool MainWindow::log_contact(const engine::HeardEntry& entry) {
    ContactDialog dialog(entry, engine::rf_frequency(entry, network_.dial_hz), this);
    if (dialog.exec() != QDialog::Accepted) return false;
    const net::Contact contact =
        engine::make_contact(entry, dialog.answers(), own_station(), network_.dial_hz);
    std::string error;
    if (contact_log_.append(contact, error))
        operator_->show_message(QStringLiteral("Logged %1 in %2")
                                    .arg(QString::fromStdString(contact.call),
                                         QString::fromLatin1(engine::contact_file_name)));
    else
        operator_->show_message(QString::fromStdString(error));
    logger_link_->contact(contact);
    return true;
}

void MainWindow::tell_logger() {
    logger_link_->tick(QDateTime::currentMSecsSinceEpoch());
    if (!logger_link_->sends_messages()) return;
    net::LoggerStatus s;
    const auto rig_dial = operator_->dial_frequency ? operator_->dial_frequency() : std::nullopt;
    if (rig_dial)
        s.dial_hz = static_cast<std::uint64_t>(std::llround(*rig_dial));
    else
        s.dial_hz = network_.dial_hz.value_or(0);
    s.tx_enabled = tx_switch_->transmitting();
    s.transmitting = operator_->on_air();
    if (!recent_.entries().empty())
        s.dx_call = net::plausible_callsign(recent_.entries().front().call).value_or("");
    const double audio_hz = engine_.monitor().tuned_freq;
    if (audio_hz > 0 && audio_hz < 10'000)
        s.rx_df_hz = s.tx_df_hz = static_cast<std::uint32_t>(std::lround(audio_hz));
    s.de_call = net::plausible_callsign(engine::callsign_string(callsign_text_)).value_or("");
    if (net::valid_locator(locator_)) s.de_grid = net::normal_locator(locator_);
    logger_link_->status(s);
}

void MainWindow::open_about_dialog() {
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::open_guide(int topic) {
    GuideDialog dialog(static_cast<GuideDialog::Topic>(topic), this);
    dialog.exec();
}

void MainWindow::update_title() {
    QString title = QStringLiteral("TARPO   V1.3");
    const QString call = QString::fromLatin1(engine::callsign_string(callsign_text_)).trimmed();
    if (!call.isEmpty()) title += QStringLiteral(" - ") + call;
    const std::string usual =
        desktop_directory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")).string();
    const std::string name = instance_name(directory_, usual);
    if (!name.empty()) title += QStringLiteral("  [") + QString::fromStdString(name) + ']';
    setWindowTitle(title);
}

void MainWindow::exit_program() {
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::show_display(int mode) {
    engine_.controls().display_mode = mode;
}

void MainWindow::show_constellation(int carrier) {
    engine::Controls& s = engine_.controls();
    s.display_mode = engine::display_constellation;
    s.constellation_carrier = carrier;
}

void MainWindow::move_squelch(int position) {
    engine_.controls().sq_level = squelch_level(position);
}

void MainWindow::toggle_alc() {
    toggle(engine_.controls().alc_on);
}

void MainWindow::toggle_enhanced_receiver() {
    const bool enhanced = enhanced_action_->isChecked();
    engine_.controls().enhanced_receiver = enhanced ? 1 : 0;
    engine::save_receiver_choice(directory_ / engine::receiver_file_name, enhanced);
}

void MainWindow::toggle_split() {
    toggle(engine_.controls().split_on);
}

void MainWindow::toggle_txid() {
    toggle(engine_.controls().txid_on);
}

void MainWindow::toggle_rxid() {
    toggle(engine_.controls().rxid_on);
}

void MainWindow::toggle_analog() {
    toggle(engine_.controls().analog_mode);
}

void MainWindow::press_tx() {
    tx_switch_->press();
    show_tx_state();
}

void MainWindow::show_tx_state() {
    tx_button_->setChecked(tx_switch_->transmitting());
    operator_->show_tx_state();
}

void MainWindow::timer_tick() {
    tx_switch_->step();
    show_tx_state();
    engine_.spectrum_tick();
    graph_invalidate();
    refresh_rig_readout();
    ptt_settled_ = engine_.ptt_check();
    apply_keying_report();
    if (++meter_tick_ >= meter_period_ticks) {
        meter_tick_ = 0;
        refresh_meters();
    }
    operator_->tick();
    tell_logger();
}

void MainWindow::graph_invalidate() {
    engine::Controls& s = engine_.controls();
    const engine::DisplayFrame& frame = engine_.display_frame();
    GraphInput& in = graph_input_;
    in.display_mode = s.display_mode;
    in.tuned_freq = engine_.monitor().tuned_freq;
    std::copy_n(frame.spectrum_input.begin(), in.spectrum_input.size(), in.spectrum_input.begin());
    in.display_spectrum = engine_.display_spectrum();
    in.error_bars = engine_.error_bars();
    in.constellation_re = frame.constellation_re;
    in.constellation_im = frame.constellation_im;
    in.timing_marker = frame.timing_marker;
    in.waterfall = waterfall_;
    graph_->graph_invalidate(in);
}

void MainWindow::set_squelch_indicator(bool open) {
    // An automatic radio button alone in its group cannot be unchecked by Qt while it is
    // exclusive; the worker's squelch must be able to close it.
    squelch_indicator_->setAutoExclusive(false);
    squelch_indicator_->setChecked(open);
    squelch_indicator_->setAutoExclusive(true);
}

void MainWindow::refresh_meters() {
    engine::Monitor& s = engine_.monitor();

    const int peak = s.rx_peak.take(-1);  // -1: nothing since the last reading
    if (peak >= 0) level_bar_->setValue(progress_shown(level_bar_value(peak)));
    operator_->level_seen(peak, meter_period_ticks * timer_period_ms / 1000.0);

    const int squelch = s.squelch_open;
    if (squelch != shown_squelch_) {
        set_squelch_indicator(squelch != 0);
        shown_squelch_ = squelch;
    }

    const int snr = snr_db(s.phase_error);
    if (snr != shown_snr_) {
        snr_field_->setText(QString::number(snr));
        snr_bar_->setValue(progress_shown(4 * snr));
        shown_snr_ = snr;
    }

    refresh_callsign();
}

// A newly confirmed callsign goes into the field (over an RSID report) and the recent list.
void MainWindow::refresh_callsign() {
    const std::uint32_t count = engine_.callsign_text_count();
    if (count == shown_callsign_count_) return;
    shown_callsign_count_ = count;
    char received[modem::CallsignChannel::text_buffer_size] = {};
    if (engine_.callsign_take_text(received) <= 0) return;
    received[sizeof received - 1] = '\0';
    const QString call = QString::fromLatin1(received).trimmed();
    if (call.isEmpty()) return;
    callsign_field_->setText(call);
    recent_.heard(call.toStdString(), QDateTime::currentMSecsSinceEpoch());
    QStringList items;
    for (const auto& e : recent_.entries())
        items
            << QDateTime::fromMSecsSinceEpoch(e.utc_ms, Qt::UTC).toString(QStringLiteral("HH:mm")) +
                   QStringLiteral("Z ") + QString::fromStdString(e.call);
    recent_calls_->clear();
    recent_calls_->addItems(items);
    recent_calls_->setCurrentIndex(0);
}

void MainWindow::refresh_rig_readout() {
    const QString text = rig_readout_text(engine_.radio_readout());
    if (text != rig_readout_->text()) rig_readout_->setText(text);
}

void MainWindow::show_report(const QString& text) {
    callsign_field_->setText(text);
}

void MainWindow::shutdown() {
    if (shut_down_) return;
    shut_down_ = true;
    engine::Controls& s = engine_.controls();
    s.rx_active = 0;
    s.tx_active = 0;
    s.worker_run = 0;
    timer_->stop();
    for (int i = 0; i < shutdown_waits; ++i) {
        waits_.sleep(shutdown_wait_ms);
        if (s.worker_run != 0) {
            worker_confirmed_ = true;
            break;
        }
    }
    // The rig is unkeyed and let go whatever the worker did; a rig that never confirmed it
    // makes the program end with a failure.
    rig_unkeyed_ = engine_.radio_close();
    logger_link_->stop();
    QCoreApplication::exit(rig_unkeyed_ ? 0 : 1);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    shutdown();
    event->accept();
}

}  // namespace tarpo::ui
