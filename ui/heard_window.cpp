#include "ui/heard_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "external/settings_text.h"
#include "net/adif_contact.h"
#include "ui/placement.h"

namespace tarpo::ui {

HeardWindow::HeardWindow(std::filesystem::path csv, QWidget* parent)
    : QDialog(parent),
      csv_(std::move(csv)),
      table_(new QTableWidget(this)),
      log_button_(new QPushButton(QStringLiteral("&Log contact..."), this)) {
    setObjectName(QStringLiteral("heard_window"));
    setWindowTitle(QStringLiteral("Heard stations"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(table_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(log_button_);
    layout->addLayout(buttons);
    log_button_->setObjectName(QStringLiteral("log_contact"));
    log_button_->setAutoDefault(false);
    log_button_->setToolTip(QStringLiteral(
        "Log the selected station (the newest without a selection) in contacts.adi (Ctrl+L)"));
    connect(log_button_, &QPushButton::clicked, this, [this] { request_contact(); });
    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+L")), this);
    connect(shortcut, &QShortcut::activated, this, [this] { request_contact(); });
    table_->setObjectName(QStringLiteral("heard_table"));
    table_->setColumnCount(8);
    table_->setHorizontalHeaderLabels(
        {"Start (UTC)", "End", "Callsign", "Best SNR", "Mean SNR", "Audio Hz", "Dial Hz", "RSID"});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->setVisible(false);
    table_->setToolTip(
        QStringLiteral("Stations heard, from heard.csv (also exported as heard.adi)"));
    resize(720, 200);
    reload();
}

void HeardWindow::reload() {
    // The newest megabyte, from a regular file only: the log may be long, or not a file at all.
    constexpr std::size_t most = 1 << 20;
    const std::string text = read_settings_text(csv_.c_str(), most, true).value_or(std::string());
    records_ = engine::read_csv(text);
    // The first record is the header, or (when the start was cut off) part of a line.
    if (!records_.empty()) records_.erase(records_.begin());
    table_->setRowCount(0);
    for (const std::vector<std::string>& cells : records_) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        for (int c = 0; c < static_cast<int>(cells.size()) && c < 8; ++c)
            table_->setItem(row, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
    }
    table_->resizeColumnsToContents();
    table_->scrollToBottom();
}

bool HeardWindow::request_contact() {
    const auto rows = table_->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? static_cast<int>(records_.size()) - 1 : rows.first().row();
    if (row < 0 || row >= static_cast<int>(records_.size())) return false;
    const auto entry = engine::heard_entry_from_csv(records_[static_cast<std::size_t>(row)]);
    if (!entry) return false;
    emit log_contact(*entry);
    return true;
}

namespace {

QLineEdit* field(const char* name, const QString& text, int most, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(most);
    return edit;
}

QString frequency_text(std::optional<std::uint64_t> hz) {
    if (!hz) return QStringLiteral("frequency unknown");
    return QString::number(static_cast<double>(*hz) / 1e6, 'f', 6) + QStringLiteral(" MHz");
}

}  // namespace

ContactDialog::ContactDialog(const engine::HeardEntry& entry, std::optional<std::uint64_t> rf_hz,
                             QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("contact_dialog"));
    setWindowTitle(QStringLiteral("Log contact"));
    const QString report = QString::fromStdString(engine::default_report(entry.mean_snr_db));
    rst_sent_ = field("rst_sent", report, 3, this);
    rst_received_ = field("rst_received", report, 3, this);
    name_ = field("contact_name", QString(), static_cast<int>(net::adif_name_chars), this);
    comment_ = field("contact_comment", QString(), static_cast<int>(net::adif_comment_chars), this);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("contact_problem"));
    auto* form = new QFormLayout(this);
    const QString call =
        QString::fromStdString(net::adif_clean(entry.callsign, net::adif_call_chars, true));
    form->addRow(new QLabel(
        QStringLiteral("<b>%1</b>  %2 UTC, %3")
            .arg(call.toHtmlEscaped(), QString::fromStdString(engine::utc_text(entry.start_ms)),
                 frequency_text(rf_hz)),
        this));
    form->addRow(QStringLiteral("RST sent"), rst_sent_);
    form->addRow(QStringLiteral("RST received"), rst_received_);
    form->addRow(QStringLiteral("Name"), name_);
    form->addRow(QStringLiteral("Comment"), comment_);
    form->addRow(problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(control_name(id_ok));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(control_name(id_cancel));
    connect(buttons, &QDialogButtonBox::accepted, this, &ContactDialog::on_ok);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    name_->setFocus();
}

QString ContactDialog::report_problem(const QString& sent, const QString& received) {
    static const QRegularExpression rst(QStringLiteral("^[1-5][1-9][1-9]?$"));
    if (!rst.match(sent.trimmed()).hasMatch())
        return QStringLiteral("RST sent: 2 or 3 digits, e.g. 59");
    if (!rst.match(received.trimmed()).hasMatch())
        return QStringLiteral("RST received: 2 or 3 digits, e.g. 59");
    return {};
}

void ContactDialog::on_ok() {
    const QString problem = report_problem(rst_sent_->text(), rst_received_->text());
    problem_->setText(problem);
    if (problem.isEmpty()) accept();
}

engine::ContactAnswers ContactDialog::answers() const {
    return {rst_sent_->text().trimmed().toStdString(),
            rst_received_->text().trimmed().toStdString(), name_->text().trimmed().toStdString(),
            comment_->text().trimmed().toStdString()};
}

}  // namespace tarpo::ui
