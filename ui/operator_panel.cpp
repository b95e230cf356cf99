#include "ui/operator_panel.h"

#include <QDateTime>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStatusBar>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/settings_files.h"
#include "external/settings_text.h"
#include "modem/callsign.h"
#include "ui/heard_window.h"
#include "ui/main_window.h"
#include "ui/placement.h"
#include "ui/ui_maths.h"

namespace tarpo::ui {

namespace {

const char* lit_style =
    "QLabel { background: #d00000; color: white; font-weight: bold; "
    "padding: 0 6px; }";
const char* dark_style = "QLabel { color: #909090; font-weight: bold; padding: 0 6px; }";
// Asked of the rig, not confirmed by it yet (or any more): keyed or unkeyed, the operator
// should look at the transmitter.
const char* pending_style =
    "QLabel { background: #ffb000; color: black; font-weight: bold; padding: 0 6px; }";

constexpr const char* transmit_file_name = "transmit.txt";

// The menu whose title, mnemonic aside, is `title`.
QMenu* menu_titled(QMainWindow& window, const QString& title) {
    for (QAction* a : window.menuBar()->actions())
        if (a->menu() && QString(a->text()).remove(QLatin1Char('&')) == title) return a->menu();
    return nullptr;
}

constexpr int message_history = 6;

}  // namespace

OperatorPanel::OperatorPanel(MainWindow& window, engine::EngineApi& engine,
                             std::filesystem::path directory)
    : QObject(&window), window_(window), engine_(engine), directory_(std::move(directory)) {
    setObjectName(QStringLiteral("operator"));
    settings_ = load_operator_settings(directory_ / operator_file_name);
    desk_.set_recording(settings_.record);
    build_status();
    build_transmit_controls();
    build_menus();
    set_tooltips();
    make_resizable();
    restore_geometry();
    window_.installEventFilter(this);
    apply_network(engine::network_settings_in(directory_));

    // F12 is the TX button; Escape ends a transmission or a tune. Both ask the transmit switch.
    auto* f12 = new QShortcut(QKeySequence(Qt::Key_F12), &window_);
    connect(f12, &QShortcut::activated, this, [this] {
        window_.tx_switch().press();
        window_.show_tx_state();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window_);
    connect(escape, &QShortcut::activated, this, [this] {
        window_.tx_switch().escape();
        window_.show_tx_state();
    });
}

OperatorPanel::~OperatorPanel() = default;

void OperatorPanel::build_status() {
    QStatusBar* bar = window_.statusBar();
    bar->setSizeGripEnabled(true);
    on_air_label_ = new QLabel(QStringLiteral("ON AIR"));
    on_air_label_->setObjectName(QStringLiteral("on_air"));
    on_air_label_->setStyleSheet(QString::fromLatin1(dark_style));
    on_air_label_->setToolTip(QStringLiteral("Lit exactly while the transmitter is keyed"));
    frequency_label_ = new QLabel(QStringLiteral("1500.0 Hz"));
    frequency_label_->setObjectName(QStringLiteral("tuned_frequency"));
    frequency_label_->setToolTip(QStringLiteral("Tuned audio centre frequency"));
    record_label_ = new QLabel;
    record_label_->setObjectName(QStringLiteral("recording"));
    record_label_->setToolTip(QStringLiteral("Received speech is being recorded"));
    message_label_ = new QLabel;
    message_label_->setObjectName(QStringLiteral("message"));
    message_label_->setTextFormat(Qt::PlainText);
    // A long message must not widen the window: it is elided to the room there is.
    message_label_->setMinimumWidth(1);
    message_label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(on_air_label_);
    bar->addWidget(frequency_label_);
    bar->addWidget(message_label_, 1);
    bar->addPermanentWidget(record_label_);
}

// The transmit drive (0..-30 dB below full scale) with the peak meter of what the tx output
// gets, and Tune, in the status line; the drive and the time-out come from transmit.txt.
void OperatorPanel::build_transmit_controls() {
    const std::string file = (directory_ / transmit_file_name).string();
    if (const auto text = load_settings_text(file.c_str())) {
        std::vector<std::string> notes;
        transmit_ = engine::read_transmit_settings(*text, &notes);
        say_settings_notes(transmit_file_name, notes);
    }
    window_.tx_switch().set_timeout_s(transmit_.timeout_s);
    engine_.controls().drive_db = transmit_.drive_db;

    QStatusBar* bar = window_.statusBar();

    tune_button_ = new QPushButton(QStringLiteral("Tune"));
    tune_button_->setObjectName(QStringLiteral("tune"));
    tune_button_->setCheckable(true);
    tune_button_->setToolTip(
        QStringLiteral("A steady signal at the modem's mean power for up to 10 s, to set the "
                       "rig's drive below its ALC; again or Escape ends it"));
    connect(tune_button_, &QPushButton::clicked, this, [this] {
        window_.tx_switch().tune();
        window_.show_tx_state();
    });
    drive_slider_ = new QSlider(Qt::Horizontal);
    drive_slider_->setObjectName(QStringLiteral("drive"));
    drive_slider_->setRange(-30, 0);
    drive_slider_->setPageStep(3);
    drive_slider_->setValue(transmit_.drive_db);
    drive_slider_->setFixedWidth(80);
    drive_slider_->setToolTip(QStringLiteral("Transmit drive, dB below full scale"));
    drive_label_ = new QLabel;
    drive_label_->setObjectName(QStringLiteral("drive_db"));
    drive_label_->setText(QString::asprintf("%d dB", transmit_.drive_db));
    drive_label_->setMinimumWidth(drive_label_->fontMetrics().horizontalAdvance("-30 dB "));
    connect(drive_slider_, &QSlider::valueChanged, this, [this](int db) {
        engine_.controls().drive_db = db;
        drive_label_->setText(QString::asprintf("%d dB", db));
        transmit_.drive_db = db;
        engine::write_file_whole(directory_ / transmit_file_name,
                                 engine::format_transmit_settings(transmit_));
    });
    tx_peak_bar_ = new QProgressBar;
    tx_peak_bar_->setObjectName(QStringLiteral("tx_peak"));
    tx_peak_bar_->setRange(0, 40);  // -40..0 dBFS
    tx_peak_bar_->setValue(0);
    tx_peak_bar_->setTextVisible(false);
    tx_peak_bar_->setFixedSize(50, 10);
    tx_peak_bar_->setToolTip(QStringLiteral("Peak of the transmit output, -40 to 0 dBFS"));
    bar->addPermanentWidget(tune_button_);
    bar->addPermanentWidget(drive_slider_);
    bar->addPermanentWidget(drive_label_);
    bar->addPermanentWidget(tx_peak_bar_);
}

void OperatorPanel::show_tx_state() {
    tune_button_->setChecked(window_.tx_switch().tuning());
    const std::string message = window_.tx_switch().take_message();
    if (!message.empty()) show_message(QString::fromStdString(message));
}

void OperatorPanel::refresh_tx_peak() {
    const int peak = engine_.monitor().tx_peak.take(0);
    const double dbfs = peak > 0 ? 20.0 * std::log10(peak / 32767.0) : -40.0;
    tx_peak_bar_->setValue(std::clamp(static_cast<int>(std::lround(dbfs + 40.0)), 0, 40));
}

void OperatorPanel::show_message(const QString& text) {
    const QString stamped = QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text;
    message_history_.append(stamped);
    while (message_history_.size() > message_history) message_history_.removeFirst();
    message_label_->setText(stamped);
    message_label_->setToolTip(message_history_.join(QLatin1Char('\n')));
}

void OperatorPanel::take_messages() {
    std::string text;
    while (engine_.take_message(text)) show_message(QString::fromLocal8Bit(text.c_str()));
}

void OperatorPanel::level_seen(int peak, double seconds) {
    const bool receiving = engine_.controls().rx_active != 0;
    if (level_watch_.feed(peak, seconds, receiving) == engine::LevelWatch::Change::none) return;
    const char* text = engine::LevelWatch::text(level_watch_.state());
    std::fprintf(stderr, "tarpo: %s\n", text);
    show_message(QString::fromLatin1(text));
}

void OperatorPanel::restore_state() {
    const StationState& st = settings_.station;
    if (st.view) {
        const int id = display_action_id(st.view->first, st.view->second);
        if (auto* a = window_.findChild<QAction*>(QString::number(id))) a->trigger();
    }
    const std::pair<ControlId, const std::optional<bool>*> toggles[] = {
        {id_split, &st.split}, {id_alc, &st.alc}, {id_txid, &st.txid}, {id_rxid, &st.rxid}};
    for (const auto& [id, wanted] : toggles) {
        auto* button = window_.findChild<QPushButton*>(control_name(id));
        if (*wanted && button && button->isChecked() != **wanted) button->click();
    }
    if (st.squelch)
        if (auto* slider = window_.findChild<QSlider*>(control_name(id_squelch_slider)))
            slider->setValue(*st.squelch);
    // As a right click in the graph asks it: the receiver takes it at its next block.
    if (st.tuned_hz) engine_.controls().request_frequency(*st.tuned_hz);
    update_display_checks();
}

void OperatorPanel::capture_state() {
    const engine::Controls& c = engine_.controls();
    StationState& st = settings_.station;
    // While transmitting the view is the scope by force: the operator's view stays as saved.
    if (c.rx_active && window_.tx_stop_countdown() < 0 &&
        display_action_id(c.display_mode, c.constellation_carrier) != 0)
        st.view = std::pair<int, int>{c.display_mode, c.constellation_carrier};
    st.split = c.split_on != 0;
    st.alc = c.alc_on != 0;
    st.txid = c.txid_on != 0;
    st.rxid = c.rxid_on != 0;
    if (auto* slider = window_.findChild<QSlider*>(control_name(id_squelch_slider)))
        st.squelch = slider->value();
    const double hz = engine_.monitor().tuned_freq;
    if (hz >= lowest_tuning_hz && hz <= highest_tuning_hz) st.tuned_hz = std::round(hz * 10) / 10;
}

void OperatorPanel::build_menus() {
    if (QMenu* settings = menu_titled(window_, QStringLiteral("Settings"))) {
        QAction* exit = settings->actions().isEmpty() ? nullptr : settings->actions().last();
        auto* transmit = new QAction(QStringLiteral("Transmit a sound file..."), settings);
        transmit->setObjectName(QStringLiteral("transmit_file"));
        connect(transmit, &QAction::triggered, this, [this] {
            const QString path = QFileDialog::getOpenFileName(
                &window_, QStringLiteral("Transmit a sound file"), QString(),
                QStringLiteral(
                    "Sound files (*.wav *.flac *.ogg *.WAV *.FLAC *.OGG);;All files (*)"));
            QString error;
            if (!path.isEmpty() && !transmit_file(path, error))
                QMessageBox::warning(&window_, QStringLiteral("Transmit a sound file"), error);
        });
        record_action_ = new QAction(QStringLiteral("Record received speech"), settings);
        record_action_->setObjectName(QStringLiteral("record_speech"));
        record_action_->setCheckable(true);
        record_action_->setChecked(settings_.record);
        connect(record_action_, &QAction::toggled, this, [this](bool on) {
            settings_.record = on;
            desk_.set_recording(on);
            capture_state();
            save_operator_settings(directory_ / operator_file_name, settings_);
        });
        settings->insertAction(exit, transmit);
        settings->insertAction(exit, record_action_);
        settings->insertSeparator(exit);
    }
    if (QMenu* display = menu_titled(window_, QStringLiteral("Display"))) {
        display->addSeparator();
        QAction* heard = display->addAction(QStringLiteral("Heard stations"));
        heard->setObjectName(QStringLiteral("heard_stations"));
        connect(heard, &QAction::triggered, this, [this] {
            if (!heard_window_) {
                heard_window_ = new HeardWindow(directory_ / "heard.csv", &window_);
                connect(heard_window_, &HeardWindow::log_contact, &window_,
                        &MainWindow::log_contact);
            }
            heard_window_->reload();
            heard_window_->show();
            heard_window_->raise();
        });
    }
    for (const DisplayView& v : display_views)
        if (auto* a = window_.findChild<QAction*>(control_name(v.id))) a->setCheckable(true);
    update_display_checks();
}

void OperatorPanel::set_tooltips() {
    const std::pair<ControlId, const char*> tips[] = {
        {id_graph,
         "Left click: tune to the strongest signal. Right click: tune to the clicked "
         "frequency (925 to 2175 Hz)"},
        {id_callsign, "Callsign of the station heard, or the report of an identification burst"},
        {id_tx, "Transmit on / off (F12); Escape ends a transmission"},
        {id_snr_field, "SNR of the received signal in dB"},
        {id_level_bar, "Audio level of the receiver input"},
        {id_squelch_indicator, "Set while received speech is played (squelch open)"},
        {id_squelch_slider, "Squelch: lower opens it more easily"},
        {id_snr_bar, "SNR of the received signal"},
        {id_alc, "ALC: raises the average transmit level"},
        {id_split, "Split: the transmitter stays at 1500 Hz whatever the receiver is tuned to"},
        {id_txid, "TXID: an identification burst starts each transmission"},
        {id_rxid, "RXID: listen for identification bursts and retune to them"},
        {id_analog, "Analog: audio passes straight through in both directions"},
    };
    for (const auto& [id, tip] : tips)
        if (auto* w = window_.findChild<QWidget*>(control_name(id)))
            w->setToolTip(QString::fromUtf8(tip));
}

void OperatorPanel::make_resizable() {
    client_ = window_.centralWidget();
    auto* graph = window_.findChild<QWidget*>(control_name(id_graph));
    if (!client_ || !graph) return;
    design_size_ = client_->size();
    graph_rect_ = {graph->x(), graph->y(), graph->width(), graph->height()};
    for (QObject* child : client_->children())
        if (auto* w = qobject_cast<QWidget*>(child))
            design_.push_back({w, PixelRect{w->x(), w->y(), w->width(), w->height()}});
    client_->setMinimumSize(design_size_);
    client_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    graph->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window_.setMinimumSize(0, 0);
    window_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window_.setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    window_.resize(window_.minimumSizeHint());
    client_->installEventFilter(this);
}

void OperatorPanel::restore_geometry() {
    if (!settings_.window) return;
    std::vector<PixelRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect a = screen->availableGeometry();
        screens.push_back({a.x(), a.y(), a.width(), a.height()});
    }
    const QSize least = window_.minimumSizeHint();
    const PixelRect& wanted = *settings_.window;
    const PixelRect r = fit_window(wanted, screens, {0, 0, least.width(), least.height()});
    if (r.width != wanted.width || r.height != wanted.height)
        settings_note(operator_file_name,
                      "window size " + std::to_string(wanted.width) + " x " +
                          std::to_string(wanted.height) + " does not fit the screen; using " +
                          std::to_string(r.width) + " x " + std::to_string(r.height));
    window_.move(r.x, r.y);
    window_.resize(r.width, r.height);
}

void OperatorPanel::lay_out_client() {
    const int dx = std::max(0, client_->width() - design_size_.width());
    const int dy = std::max(0, client_->height() - design_size_.height());
    const int lower_y = dialog_y(95);  // below the SQ and SNR groups
    for (const auto& [w, design] : design_) {
        const PixelRect r = stretched_rect(design, graph_rect_, lower_y, dx, dy);
        w->setGeometry(r.x, r.y, r.width, r.height);
    }
}

bool OperatorPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) lay_out_client();
    if (watched == &window_ && event->type() == QEvent::Close) close_down();
    return QObject::eventFilter(watched, event);
}

// Stands in until the reception reports are wired to network.txt.
void OperatorPanel::close_down() {
    if (closed_) return;
    closed_ = true;
    const engine::DeskStep last = desk_.finish();
    if (last.entry) log_entry(*last.entry);
    say_desk_errors(last);
    if (reporter_) reporter_->stop(QDateTime::currentSecsSinceEpoch());
    take_reporter_notes();
    const QPoint at = window_.pos();
    settings_.window = PixelRect{at.x(), at.y(), window_.width(), window_.height()};
    capture_state();
    save_operator_settings(directory_ / operator_file_name, settings_);
}

void OperatorPanel::set_on_air(bool on, bool confirmed) {
    if (on == on_air_ && confirmed == on_air_confirmed_) return;
    const bool changed = on != on_air_;
    on_air_ = on;
    on_air_confirmed_ = confirmed;
    const char* style = !confirmed ? pending_style : on ? lit_style : dark_style;
    on_air_label_->setStyleSheet(QString::fromLatin1(style));
    on_air_label_->setToolTip(confirmed
                                  ? QStringLiteral("Lit exactly while the transmitter is keyed")
                                  : QStringLiteral("PTT asked of the rig, not confirmed by it"));
    if (changed) emit on_air_changed(on);
}

bool OperatorPanel::transmit_file(const QString& path, QString& error) {
    std::string reason;
    const bool started = window_.tx_switch().start_file(path.toStdString(), reason);
    if (!started) error = QString::fromStdString(reason);
    window_.show_tx_state();
    return started;
}

// A file that fails in the middle: the reason is said as a refused file's is, without holding
// up the display.
void OperatorPanel::show_keyer_failure() {
    const std::string failure = window_.tx_switch().take_keyer_failure();
    if (failure.empty()) return;
    std::fprintf(stderr, "tarpo: %s\n", failure.c_str());
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Transmit a sound file"),
                                QString::fromStdString(failure), QMessageBox::Ok, &window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void OperatorPanel::tick() {
    if (closed_) return;
    show_keyer_failure();
    refresh_tx_peak();
    log_step();
    take_messages();
    frequency_label_->setText(QString::asprintf("%.1f Hz", engine_.monitor().tuned_freq.load()));
    record_label_->setText(desk_.recording() ? QStringLiteral("REC") : QString());
    if (reporter_) reporter_->tick(QDateTime::currentSecsSinceEpoch());
    take_reporter_notes();
    update_display_checks();
}

void OperatorPanel::update_display_checks() {
    const engine::Controls& s = engine_.controls();
    const int current = display_action_id(s.display_mode, s.constellation_carrier);
    for (const DisplayView& v : display_views)
        if (auto* a = window_.findChild<QAction*>(control_name(v.id)))
            a->setChecked(v.id == current);
}

void OperatorPanel::log_step() {
    const engine::Controls& c = engine_.controls();
    const engine::Monitor& m = engine_.monitor();
    engine::Observation o;
    o.utc_ms = QDateTime::currentMSecsSinceEpoch();
    o.squelch_open = c.rx_active && m.squelch_open == 1;
    o.snr_db = snr_db(m.phase_error);
    o.callsign_count = engine_.callsign_text_count();
    char text[modem::CallsignChannel::text_buffer_size] = {};
    if (engine_.callsign_take_text(text) > 0) {
        text[sizeof text - 1] = '\0';
        o.callsign = QString::fromLatin1(text).trimmed().toStdString();
    }
    o.audio_hz = m.tuned_freq;
    if (dial_frequency) o.dial_hz = dial_frequency();
    o.rsid_report = rsid_pending_;
    rsid_pending_ = false;

    speech_.resize(4096);
    std::size_t got = 0;
    while (got < speech_.size()) {
        const std::size_t n =
            engine_.take_received_speech(speech_.data() + got, speech_.size() - got);
        if (n == 0) break;
        got += n;
    }
    const engine::DeskStep step = desk_.step(o, speech_.data(), got);
    if (step.entry) log_entry(*step.entry);
    say_desk_errors(step);
}

// The entry is in the heard log (or waiting for it) already.
void OperatorPanel::log_entry(const engine::HeardEntry& entry) {
    if (heard_window_) heard_window_->reload();
    emit heard(QString::fromStdString(engine::csv_line(entry)));
    if (reporter_) reporter_->heard(entry, QDateTime::currentSecsSinceEpoch());
}

void OperatorPanel::say_desk_errors(const engine::DeskStep& step) {
    for (const std::string& error : step.errors) std::fprintf(stderr, "tarpo: %s\n", error.c_str());
}

void OperatorPanel::take_reporter_notes() {
    if (!reporter_) return;
    for (const std::string& line : reporter_->take_notes()) {
        std::fprintf(stderr, "tarpo: %s\n", line.c_str());
        show_message(QString::fromStdString(line));
    }
}

void OperatorPanel::apply_network(const engine::NetworkSettings& network) {
    const std::int64_t now_s = QDateTime::currentSecsSinceEpoch();
    if (reporter_) reporter_->stop(now_s);
    take_reporter_notes();
    reporter_ =
        engine::make_spot_reporter(network, engine::spot_identity_in(directory_), false, now_s);
    take_reporter_notes();
}

}  // namespace tarpo::ui
