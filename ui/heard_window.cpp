#include "ui/heard_window.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "engine/heard_log.h"
#include "external/settings_text.h"

namespace tarpo::ui {

HeardWindow::HeardWindow(std::filesystem::path csv, QWidget* parent)
    : QDialog(parent), csv_(std::move(csv)), table_(new QTableWidget(this)) {
    setObjectName(QStringLiteral("heard_window"));
    setWindowTitle(QStringLiteral("Heard stations"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(table_);
    table_->setObjectName(QStringLiteral("heard_table"));
    table_->setColumnCount(8);
    table_->setHorizontalHeaderLabels(
        {"Start (UTC)", "End", "Callsign", "Best SNR", "Mean SNR", "Audio Hz", "Dial Hz", "RSID"});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
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
    std::vector<std::vector<std::string>> records = engine::read_csv(text);
    // The first record is the header, or (when the start was cut off) part of a line.
    if (!records.empty()) records.erase(records.begin());
    table_->setRowCount(0);
    for (const std::vector<std::string>& cells : records) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        for (int c = 0; c < static_cast<int>(cells.size()) && c < 8; ++c)
            table_->setItem(row, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
    }
    table_->resizeColumnsToContents();
    table_->scrollToBottom();
}

}  // namespace tarpo::ui
