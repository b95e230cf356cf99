#include "ui/network_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <charconv>
#include <cstdio>
#include <fstream>

#include "net/callsign_check.h"
#include "ui/placement.h"

namespace tarpo::ui {

namespace {

QLineEdit* line(const char* name, const std::string& text, QWidget* parent) {
    auto* edit = new QLineEdit(QString::fromStdString(text), parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QCheckBox* box(const char* name, const char* text, bool on, QWidget* parent) {
    auto* check = new QCheckBox(QString::fromLatin1(text), parent);
    check->setObjectName(QString::fromLatin1(name));
    check->setChecked(on);
    return check;
}

// The endpoint of a field, or the line that names it.
bool take_endpoint(const QLineEdit* edit, const char* setting, engine::Endpoint& to,
                   QString& problem) {
    const std::string text = edit->text().trimmed().toStdString();
    if (const auto e = engine::parse_endpoint(text)) {
        to = *e;
        return true;
    }
    problem = QStringLiteral("%1: '%2' is not HOST:PORT (e.g. 127.0.0.1:2237)")
                  .arg(QString::fromLatin1(setting), QString::fromStdString(text.substr(0, 40)));
    return false;
}

// The dial frequency of the field: empty for none, else whole Hz from 100 kHz to 300 GHz.
bool take_dial(const QLineEdit* edit, std::optional<std::uint64_t>& to, QString& problem) {
    const std::string text = edit->text().trimmed().toStdString();
    to.reset();
    if (text.empty()) return true;
    std::uint64_t hz = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), hz);
    if (ec == std::errc{} && end == text.data() + text.size() && hz >= 100'000 &&
        hz <= 300'000'000'000ULL) {
        to = hz;
        return true;
    }
    problem = QStringLiteral("Dial frequency: '%1' is not a frequency in Hz (100000 and up)")
                  .arg(QString::fromStdString(text.substr(0, 20)));
    return false;
}

// Writes `text` as `path` whole: a new file beside it, renamed over the old one.
bool write_whole(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::path fresh = path;
    fresh += ".new";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        if (!(out << text) || !out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(fresh, path, ec);
    return !ec;
}

}  // namespace

NetworkDialog::NetworkDialog(const engine::NetworkSettings& current,
                             std::filesystem::path directory, std::string callsign,
                             std::string locator, QWidget* parent)
    : QDialog(parent),
      directory_(std::move(directory)),
      callsign_(std::move(callsign)),
      locator_(std::move(locator)),
      accepted_(current) {
    setObjectName(QStringLiteral("network_dialog"));
    setWindowTitle(QStringLiteral("Network"));
    report_ = box("report", "Send reception reports", current.report, this);
    report_to_ = line("report_to", engine::endpoint_text(current.report_to), this);
    antenna_ = line("antenna", current.antenna, this);
    antenna_->setMaxLength(128);
    dial_ = line("dial", current.dial_hz ? std::to_string(*current.dial_hz) : "", this);
    dial_->setPlaceholderText(QStringLiteral("Hz, when no rig tells it, e.g. 14236000"));
    logger_ = box("logger", "Send logger messages", current.logger, this);
    logger_to_ = line("logger_to", engine::endpoint_text(current.logger_to), this);
    adif_ = box("adif", "Send each contact as an ADIF record", current.adif, this);
    adif_to_ = line("adif_to", engine::endpoint_text(current.adif_to), this);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("network_problem"));

    auto* form = new QFormLayout(this);
    form->addRow(report_);
    form->addRow(QStringLiteral("Reports to"), report_to_);
    form->addRow(QStringLiteral("Antenna"), antenna_);
    form->addRow(QStringLiteral("Dial frequency"), dial_);
    form->addRow(logger_);
    form->addRow(QStringLiteral("Logger at"), logger_to_);
    form->addRow(adif_);
    form->addRow(QStringLiteral("ADIF records to"), adif_to_);
    form->addRow(problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(control_name(id_ok));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(control_name(id_cancel));
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkDialog::on_ok);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

std::optional<engine::NetworkSettings> NetworkDialog::settings(QString& problem) const {
    engine::NetworkSettings s;
    s.report = report_->isChecked();
    s.logger = logger_->isChecked();
    s.adif = adif_->isChecked();
    s.antenna = antenna_->text().trimmed().toStdString();
    if (!take_endpoint(report_to_, "Reports to", s.report_to, problem) ||
        !take_dial(dial_, s.dial_hz, problem) ||
        !take_endpoint(logger_to_, "Logger at", s.logger_to, problem) ||
        !take_endpoint(adif_to_, "ADIF records to", s.adif_to, problem))
        return std::nullopt;
    // Reports name the station: its callsign and locator must do.
    if (s.report) {
        std::string why = net::callsign_problem("Callsign (Settings > Callsign)", callsign_);
        if (why.empty()) why = net::locator_problem("Locator (locator.txt)", locator_, true);
        if (!why.empty()) {
            problem = QStringLiteral("Reception reports: ") + QString::fromStdString(why);
            return std::nullopt;
        }
    }
    return s;
}

void NetworkDialog::on_ok() {
    QString problem;
    const auto s = settings(problem);
    if (s &&
        !write_whole(directory_ / engine::network_file_name, engine::format_network_settings(*s)))
        problem = QStringLiteral("Cannot write ") +
                  QString::fromStdString((directory_ / engine::network_file_name).string());
    problem_->setText(problem);
    if (!problem.isEmpty()) return;
    accepted_ = *s;
    accept();
}

}  // namespace tarpo::ui
