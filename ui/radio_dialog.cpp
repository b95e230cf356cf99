#include "ui/radio_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

#include "engine/device_names.h"
#include "ui/radio_file.h"

namespace tarpo::ui {

namespace {

using ptt::PttKind;

constexpr std::pair<PttKind, const char*> method_names[] = {
    {PttKind::vox, "None (the rig's VOX)"},
    {PttKind::serial_rts_dtr, "Serial port, RTS and DTR"},
    {PttKind::serial_rts, "Serial port, RTS only"},
    {PttKind::serial_dtr, "Serial port, DTR only"},
    {PttKind::hamlib_cat, "CAT through Hamlib"},
    {PttKind::hamlib_net, "Hamlib network rig (rigctld)"},
    {PttKind::cm108, "CM108 GPIO (USB sound interface)"},
};

// The hidraw devices of this machine, in name order.
QStringList hidraw_devices() {
    QStringList out;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("hidraw", 0) == 0) out << QString::fromStdString(it->path().string());
    }
    out.sort();
    return out;
}

// An editable combo box offering `choices`, showing `current`.
QComboBox* editable_combo(const QStringList& choices, const QString& current) {
    auto* box = new QComboBox;
    box->setEditable(true);
    box->addItems(choices);
    box->setCurrentText(current);
    box->setMinimumContentsLength(28);
    return box;
}

}  // namespace

QString rig_readout_text(const ptt::RigReadout& r) {
    using State = ptt::RigReadout::State;
    switch (r.state) {
        case State::none:
        case State::stopped:
            return {};
        case State::connecting:
            return QStringLiteral("rig: connecting");
        case State::failed:
            return r.confirmed ? QStringLiteral("rig: no answer")
                               : QStringLiteral("rig: no answer, PTT not confirmed");
        case State::connected:
            break;
    }
    const auto hz = static_cast<long long>(std::llround(r.freq_hz));
    QString out = r.freq_hz <= 0 ? QStringLiteral("rig: connected")
                                 : QStringLiteral("%1.%2.%3")
                                       .arg(hz / 1000000)
                                       .arg(hz / 1000 % 1000, 3, 10, QLatin1Char('0'))
                                       .arg(hz % 1000, 3, 10, QLatin1Char('0'));
    if (r.freq_hz > 0 && r.mode[0] != '\0')
        out += QStringLiteral(" ") + QString::fromLatin1(r.mode.data());
    if (r.keyed) out += QStringLiteral(" TX");
    if (!r.confirmed) out += QStringLiteral(" (PTT not confirmed)");
    return out;
}

RadioDialog::RadioDialog(engine::EngineApi& engine, std::filesystem::path directory,
                         QWidget* parent)
    : QDialog(parent), engine_(engine), directory_(std::move(directory)) {
    setObjectName(QStringLiteral("radio"));
    setWindowTitle(QStringLiteral("Radio"));
    build(engine_.radio_settings());
    show_method();
}

void RadioDialog::build(const ptt::RadioSettings& s) {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QFormLayout;
    method_ = new QComboBox;
    method_->setObjectName(QStringLiteral("method"));
    for (const auto& [kind, name] : method_names)
        method_->addItem(QString::fromLatin1(name), static_cast<int>(kind));
    method_->setCurrentIndex(std::max(0, method_->findData(static_cast<int>(s.method))));
    top->addRow(QStringLiteral("PTT"), method_);
    dial_rig_ = new QComboBox;
    dial_rig_->setObjectName(QStringLiteral("dial_rig"));
    dial_rig_->addItem(QStringLiteral("No rig"), static_cast<int>(ptt::DialRig::none));
    dial_rig_->addItem(QStringLiteral("The CAT rig below (never keyed)"),
                       static_cast<int>(ptt::DialRig::cat));
    dial_rig_->addItem(QStringLiteral("The network rig below (never keyed)"),
                       static_cast<int>(ptt::DialRig::net));
    dial_rig_->setCurrentIndex(std::max(0, dial_rig_->findData(static_cast<int>(s.dial_rig))));
    dial_rig_->setToolTip(
        QStringLiteral("With PTT another way, a rig can still be read through Hamlib for the "
                       "dial frequency shown and logged; no PTT command is sent to it"));
    top->addRow(QStringLiteral("Read the dial from"), dial_rig_);
    layout->addLayout(top);
    loop_note_ = new QLabel;
    loop_note_->setObjectName(QStringLiteral("loop_note"));
    loop_note_->setWordWrap(true);
    loop_note_->setStyleSheet(QStringLiteral("QLabel { color: #a04000; }"));
    layout->addWidget(loop_note_);
    layout->addWidget(cat_ = build_cat(s));
    layout->addWidget(net_ = build_net(s));
    layout->addWidget(cm108_ = build_cm108(s));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &RadioDialog::on_ok);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(method_, &QComboBox::currentIndexChanged, this, &RadioDialog::show_method);
    connect(dial_rig_, &QComboBox::currentIndexChanged, this, &RadioDialog::show_method);
}

QGroupBox* RadioDialog::build_cat(const ptt::RadioSettings& s) {
    auto* box = new QGroupBox(QStringLiteral("CAT through Hamlib"));
    auto* form = new QFormLayout(box);
    rig_model_ = new QComboBox;
    rig_model_->setObjectName(QStringLiteral("rig_model"));
    for (const ptt::RigModel& m : engine_.rig_models()) {
        rig_model_->addItem(
            QStringLiteral("%1 %2 (%3)")
                .arg(QString::fromStdString(m.maker), QString::fromStdString(m.name))
                .arg(m.model),
            m.model);
    }
    if (rig_model_->findData(s.rig_model) < 0)
        rig_model_->addItem(QStringLiteral("Hamlib model %1").arg(s.rig_model), s.rig_model);
    rig_model_->setCurrentIndex(rig_model_->findData(s.rig_model));
    QStringList ports;
    for (int n = 1; n <= 8; ++n) {
        const std::string device = engine_.ptt_port_device(n);
        if (!device.empty()) ports << QString::fromStdString(device);
    }
    rig_port_ = editable_combo(ports, QString::fromStdString(s.rig_port));
    rig_port_->setObjectName(QStringLiteral("rig_port"));
    QStringList speeds{QStringLiteral("model's default")};
    for (const int b : serial_speeds()) speeds << QString::number(b);
    rig_baud_ = new QComboBox;
    rig_baud_->setObjectName(QStringLiteral("rig_baud"));
    rig_baud_->addItems(speeds);
    const int baud_index = rig_baud_->findText(QString::number(s.rig_baud));
    rig_baud_->setCurrentIndex(std::max(0, baud_index));
    form->addRow(QStringLiteral("Rig"), rig_model_);
    form->addRow(QStringLiteral("Port"), rig_port_);
    form->addRow(QStringLiteral("Baud rate"), rig_baud_);
    return box;
}

QGroupBox* RadioDialog::build_net(const ptt::RadioSettings& s) {
    auto* box = new QGroupBox(QStringLiteral("Hamlib network rig"));
    auto* form = new QFormLayout(box);
    net_host_ = new QLineEdit(QString::fromStdString(s.net_host));
    net_host_->setObjectName(QStringLiteral("net_host"));
    net_port_ = new QSpinBox;
    net_port_->setObjectName(QStringLiteral("net_port"));
    net_port_->setRange(1, 65535);
    net_port_->setValue(s.net_port);
    form->addRow(QStringLiteral("Host"), net_host_);
    form->addRow(QStringLiteral("Port"), net_port_);
    return box;
}

QGroupBox* RadioDialog::build_cm108(const ptt::RadioSettings& s) {
    auto* box = new QGroupBox(QStringLiteral("CM108 GPIO"));
    auto* form = new QFormLayout(box);
    cm108_device_ = editable_combo(hidraw_devices(), QString::fromStdString(s.cm108_device));
    cm108_device_->setObjectName(QStringLiteral("cm108_device"));
    cm108_gpio_ = new QSpinBox;
    cm108_gpio_->setObjectName(QStringLiteral("cm108_gpio"));
    cm108_gpio_->setRange(1, 8);
    cm108_gpio_->setValue(s.cm108_gpio);
    form->addRow(QStringLiteral("hidraw device"), cm108_device_);
    form->addRow(QStringLiteral("GPIO"), cm108_gpio_);
    return box;
}

void RadioDialog::show_method() {
    const auto kind = static_cast<PttKind>(method_->currentData().toInt());
    const auto dial = static_cast<ptt::DialRig>(dial_rig_->currentData().toInt());
    const bool hamlib = ptt::keys_through_hamlib(kind);
    dial_rig_->setEnabled(!hamlib);
    cat_->setEnabled(kind == PttKind::hamlib_cat || (!hamlib && dial == ptt::DialRig::cat));
    net_->setEnabled(kind == PttKind::hamlib_net || (!hamlib && dial == ptt::DialRig::net));
    cm108_->setEnabled(kind == PttKind::cm108);
    const QString note = loop_note(kind);
    loop_note_->setText(note);
    loop_note_->setVisible(!note.isEmpty());
}

QString RadioDialog::loop_note(PttKind kind) const {
    if (!engine::tx_output_is_loop(engine_) || kind == PttKind::vox) return {};
    // The worker keys the loop device whenever it is the output, in place of the method.
    const QString what = ptt::keys_through_hamlib(kind)
                             ? QStringLiteral("the rig's PTT through Hamlib")
                         : kind == PttKind::cm108 ? QStringLiteral("the CM108 GPIO")
                                                  : QStringLiteral("the serial port's lines");
    return QStringLiteral(
               "The transmit output is the SDR loop device: it is keyed by its own PTT "
               "datagram, and %1 is not used while it is the output.")
               .arg(what) +
           (ptt::keys_through_hamlib(kind) ? QStringLiteral(" The rig's dial is still read.")
                                           : QString());
}

ptt::RadioSettings RadioDialog::settings() const {
    ptt::RadioSettings s = engine_.radio_settings();
    s.method = static_cast<PttKind>(method_->currentData().toInt());
    s.rig_model = rig_model_->currentData().toInt();
    s.rig_port = rig_port_->currentText().trimmed().toStdString();
    bool number = false;
    const int baud = rig_baud_->currentText().toInt(&number);
    s.rig_baud = number ? baud : 0;
    const std::string host = net_host_->text().trimmed().toStdString();
    if (!host.empty()) s.net_host = host;
    s.net_port = net_port_->value();
    s.cm108_device = cm108_device_->currentText().trimmed().toStdString();
    s.cm108_gpio = cm108_gpio_->value();
    s.dial_rig = static_cast<ptt::DialRig>(dial_rig_->currentData().toInt());
    return s;
}

void RadioDialog::on_ok() {
    const ptt::RadioSettings s = settings();
    if (s.method == PttKind::cm108) {
        const std::string problem = cm108_device_problem(s.cm108_device);
        if (!problem.empty()) {
            QMessageBox::warning(this, QStringLiteral("Radio"),
                                 QString::fromStdString(s.cm108_device + " " + problem +
                                                        ": choose the CM108's hidraw device."));
            return;
        }
    }
    save_radio_settings(directory_ / radio_file_name, s);
    engine_.radio_apply(s);
    accept();
}

}  // namespace tarpo::ui
