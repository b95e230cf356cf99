#include "ui/setup_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

#include "engine/device_names.h"
#include "ui/dialogs.h"
#include "ui/radio_dialog.h"
#include "ui/radio_file.h"

namespace tarpo::ui {

bool first_start(const std::filesystem::path& directory) {
    std::error_code error;
    const bool callsign = std::filesystem::exists(directory / engine::callsign_file_name, error);
    const bool sound = std::filesystem::exists(directory / engine::sound_file_name, error);
    return !callsign && !sound;
}

bool locator_valid(const std::string& text) {
    if (text.empty()) return true;
    if (text.size() != 4 && text.size() != 6 && text.size() != 8) return false;
    auto upper = [&](std::size_t i) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    };
    auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(text[i])); };
    if (upper(0) < 'A' || upper(0) > 'R' || upper(1) < 'A' || upper(1) > 'R') return false;
    if (!digit(2) || !digit(3)) return false;
    if (text.size() >= 6 && (upper(4) < 'A' || upper(4) > 'X' || upper(5) < 'A' || upper(5) > 'X'))
        return false;
    return text.size() < 8 || (digit(6) && digit(7));
}

namespace {

// A peak in 16-bit units on a meter of -40..0 dBFS.
int meter_value(int peak) {
    const double dbfs = peak > 0 ? 20.0 * std::log10(peak / 32767.0) : -40.0;
    return std::clamp(static_cast<int>(std::lround(dbfs + 40.0)), 0, 40);
}

QProgressBar* make_meter(const char* name) {
    auto* bar = new QProgressBar;
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 40);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedSize(80, 12);
    bar->setToolTip(QStringLiteral("Input level, -40 to 0 dBFS"));
    return bar;
}

}  // namespace

SetupDialog::SetupDialog(engine::EngineApi& engine, engine::CallsignText& callsign,
                         std::filesystem::path directory, QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      callsign_(callsign),
      directory_(std::move(directory)),
      radio_before_(engine.radio_settings()),
      port_before_(static_cast<char>(engine.controls().ptt_port_choice.load())) {
    setObjectName(QStringLiteral("setup"));
    setWindowTitle(QStringLiteral("Set up TARPO"));
    auto* layout = new QVBoxLayout(this);

    auto* station = new QGroupBox(QStringLiteral("Station"));
    auto* form = new QFormLayout(station);
    callsign_edit_ = new QLineEdit;
    callsign_edit_->setObjectName(QStringLiteral("setup_callsign"));
    callsign_edit_->setMaxLength(engine::callsign_max_chars);
    const std::string current = engine::callsign_string(callsign_);
    if (current != "NOCALL") callsign_edit_->setText(QString::fromLatin1(current));
    locator_edit_ = new QLineEdit;
    locator_edit_->setObjectName(QStringLiteral("setup_locator"));
    locator_edit_->setMaxLength(8);
    locator_edit_->setPlaceholderText(QStringLiteral("optional, e.g. JO31ne"));
    form->addRow(QStringLiteral("Callsign"), callsign_edit_);
    form->addRow(QStringLiteral("Locator"), locator_edit_);
    layout->addWidget(station);

    auto* sound = new QGroupBox(QStringLiteral("Sound devices"));
    auto* grid = new QGridLayout(sound);
    const engine::Controls& c = engine_.controls();
    rx_input_ = device_list(false, false, c.rx_input_device, "setup_rx_input");
    tx_output_ = device_list(true, false, c.tx_output_device, "setup_tx_output");
    voice_input_ = device_list(false, true, c.voice_input_device, "setup_voice_input");
    voice_output_ = device_list(true, true, c.voice_output_device, "setup_voice_output");
    rx_level_ = make_meter("setup_rx_level");
    voice_level_ = make_meter("setup_voice_level");
    auto tone_button = [this](QComboBox* list, const char* name) {
        auto* b = new QPushButton(QStringLiteral("Test tone"));
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QStringLiteral("1 s of 1 kHz at -20 dBFS; the transmitter is not keyed"));
        connect(b, &QPushButton::clicked, this, [this, list] {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            engine_.check_output_tone(list->currentIndex());
            QApplication::restoreOverrideCursor();
        });
        return b;
    };
    const std::pair<const char*, QComboBox*> rows[] = {
        {"Receiver input (from the rig)", rx_input_},
        {"Transmitter output (to the rig)", tx_output_},
        {"Microphone", voice_input_},
        {"Loudspeaker", voice_output_}};
    for (int r = 0; r < 4; ++r) {
        grid->addWidget(new QLabel(QString::fromLatin1(rows[r].first)), r, 0);
        grid->addWidget(rows[r].second, r, 1);
    }
    grid->addWidget(rx_level_, 0, 2);
    grid->addWidget(tone_button(tx_output_, "setup_tx_tone"), 1, 2);
    grid->addWidget(voice_level_, 2, 2);
    grid->addWidget(tone_button(voice_output_, "setup_voice_tone"), 3, 2);
    layout->addWidget(sound);

    auto* keying = new QGroupBox(QStringLiteral("Keying the transmitter"));
    auto* keying_layout = new QVBoxLayout(keying);
    auto* port_form = new QFormLayout;
    port_ = new QComboBox;
    port_->setObjectName(QStringLiteral("setup_port"));
    port_->addItem(QStringLiteral("None "));
    for (int n = 1; n <= 8; ++n)
        port_->addItem(ComportDialog::entry_text(n, engine_.ptt_port_device(n)));
    port_->setCurrentIndex(std::clamp(port_before_ - '0', 0, 8));
    port_form->addRow(QStringLiteral("Serial port (RTS/DTR)"), port_);
    keying_layout->addLayout(port_form);
    // The Radio dialog's own controls, without its buttons: this dialog's OK writes radio.txt.
    radio_ = new RadioDialog(engine_, directory_, keying);
    radio_->setWindowFlags(Qt::Widget);
    for (auto* box : radio_->findChildren<QDialogButtonBox*>()) box->hide();
    connect(radio_, &QDialog::rejected, this, &QDialog::reject);  // Escape inside it
    keying_layout->addWidget(radio_);
    auto* tests = new QHBoxLayout;
    auto* ptt_button = new QPushButton(QStringLiteral("Test PTT"));
    ptt_button->setObjectName(QStringLiteral("setup_test_ptt"));
    ptt_button->setToolTip(QStringLiteral("Keys the transmitter for one second"));
    auto* cat_button = new QPushButton(QStringLiteral("Test CAT"));
    cat_button->setObjectName(QStringLiteral("setup_test_cat"));
    cat_button->setToolTip(QStringLiteral("Reads the rig's dial through Hamlib"));
    connect(ptt_button, &QPushButton::clicked, this, &SetupDialog::test_ptt);
    connect(cat_button, &QPushButton::clicked, this, &SetupDialog::test_cat);
    tests->addWidget(ptt_button);
    tests->addWidget(cat_button);
    tests->addStretch();
    keying_layout->addLayout(tests);
    layout->addWidget(keying);

    result_ = new QLabel;
    result_->setObjectName(QStringLiteral("setup_result"));
    result_->setWordWrap(true);
    layout->addWidget(result_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("setup_ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("setup_cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SetupDialog::on_ok);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    meter_timer_ = new QTimer(this);
    meter_timer_->setInterval(150);
    connect(meter_timer_, &QTimer::timeout, this, &SetupDialog::meter_tick);
    meter_timer_->start();
    connect(this, &QDialog::finished, this, [this] {
        meter_timer_->stop();
        if (!ended_) engine_.check_end();
        ended_ = true;
    });
    callsign_edit_->setFocus(Qt::OtherFocusReason);
}

SetupDialog::~SetupDialog() {
    if (!ended_) engine_.check_end();
}

QComboBox* SetupDialog::device_list(bool output, bool voice, int selected, const char* name) {
    auto* list = new QComboBox;
    list->setObjectName(QString::fromLatin1(name));
    int count = output ? engine_.sound_output_count() : engine_.sound_input_count();
    // The SDR loop device, the last entry, is offered only for the radio side.
    if (voice && engine_.sound_loop_present()) count -= 1;
    for (int i = 0; i < count; ++i)
        list->addItem(QString::fromStdString(output ? engine_.sound_output_name(i)
                                                    : engine_.sound_input_name(i)));
    list->setCurrentIndex(std::clamp(selected, 0, std::max(0, count - 1)));
    return list;
}

void SetupDialog::meter_tick() {
    // Both inputs at once; a meter whose input delivered nothing this tick keeps its reading.
    if (rx_input_->currentIndex() >= 0) {
        const int peak = engine_.check_input_level(rx_input_->currentIndex());
        if (peak >= 0) rx_level_->setValue(meter_value(peak));
    }
    if (voice_input_->currentIndex() >= 0) {
        const int peak = engine_.check_voice_input_level(voice_input_->currentIndex());
        if (peak >= 0) voice_level_->setValue(meter_value(peak));
    }
}

char SetupDialog::port_choice() const {
    return static_cast<char>('0' + std::max(0, port_->currentIndex()));
}

void SetupDialog::test_ptt() {
    result_->setText(QStringLiteral("Keying for one second..."));
    result_->repaint();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string said =
        engine_.check_ptt(radio_->settings(), port_choice(), tx_output_->currentIndex());
    QApplication::restoreOverrideCursor();
    result_->setText(QString::fromStdString(said));
}

void SetupDialog::test_cat() {
    const ptt::RadioSettings s = radio_->settings();
    if (s.method != ptt::PttKind::hamlib_cat && s.method != ptt::PttKind::hamlib_net) {
        result_->setText(QStringLiteral("CAT needs a Hamlib method (a rig model or rigctld)."));
        return;
    }
    result_->setText(QStringLiteral("Asking the rig..."));
    result_->repaint();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ptt::RigReadout r = engine_.check_cat(s);
    QApplication::restoreOverrideCursor();
    const bool answered = r.state == ptt::RigReadout::State::connected && r.freq_hz > 0;
    result_->setText(answered ? QStringLiteral("The rig answered: ") + rig_readout_text(r)
                              : QStringLiteral("No answer from the rig over CAT."));
}

void SetupDialog::on_ok() {
    const QByteArray bytes = callsign_edit_->text().trimmed().toLatin1();
    const std::string call(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (call.empty() || QString::fromLatin1(bytes).toUpper() == QStringLiteral("NOCALL")) {
        result_->setText(QStringLiteral("Enter your callsign: without one nothing is sent."));
        callsign_edit_->setFocus();
        return;
    }
    const std::string locator = locator_edit_->text().trimmed().toStdString();
    if (!locator_valid(locator)) {
        result_->setText(QStringLiteral("The locator is 4, 6 or 8 characters, e.g. JO31ne."));
        locator_edit_->setFocus();
        return;
    }
    ended_ = true;
    meter_timer_->stop();
    engine_.check_end();

    callsign_ = engine::make_callsign_text(call);
    engine_.callsign_set(callsign_.data());
    engine::save_callsign(directory_ / engine::callsign_file_name, callsign_);
    if (!locator.empty()) engine::write_file_whole(directory_ / locator_file_name, locator + "\n");

    engine::Controls& c = engine_.controls();
    c.tx_output_device = tx_output_->currentIndex();
    c.rx_input_device = rx_input_->currentIndex();
    c.voice_input_device = voice_input_->currentIndex();
    c.voice_output_device = voice_output_->currentIndex();
    engine::save_sound_choices(directory_ / engine::sound_file_name,
                               engine::SoundChoices{c.tx_output_device, c.voice_input_device,
                                                    c.voice_output_device, c.rx_input_device});
    engine::save_device_names(directory_ / engine::device_names_file_name,
                              engine::selected_device_names(engine_));

    const ptt::RadioSettings radio = radio_->settings();
    save_radio_settings(directory_ / radio_file_name, radio);
    engine_.radio_apply(radio);
    const char port = port_choice();
    c.ptt_port_choice = port;
    engine_.ptt_port_save(port);
    engine_.ptt_port_open(port);
    accept();
}

void SetupDialog::reject() {
    // The tests may have applied another PTT method or port: back to what was.
    if (!ended_) {
        ended_ = true;
        meter_timer_->stop();
        engine_.check_end();
    }
    engine_.radio_apply(radio_before_);
    engine_.ptt_port_open(port_before_);
    QDialog::reject();
}

}  // namespace tarpo::ui
