// Display -> Heard stations: the entries of heard.csv in a table of their own, the operator
// panel reloading it on every new entry; "Log contact" (the button or Ctrl+L) on the selected
// entry, or the newest when none is selected, asks for the reports in a ContactDialog.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/contact_log.h"
#include "engine/heard_log.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tarpo::ui {

// Display -> Heard stations: the entries of heard.csv, newest last, reloaded on every entry.
class HeardWindow : public QDialog {
    Q_OBJECT
  public:
    HeardWindow(std::filesystem::path csv, QWidget* parent);
    void reload();
    // "Log contact": emits log_contact with the selected entry (the newest without a
    // selection); false when there is no entry that reads back.
    bool request_contact();

  signals:
    void log_contact(const engine::HeardEntry& entry);

  private:
    std::filesystem::path csv_;
    QTableWidget* table_;
    QPushButton* log_button_;
    std::vector<std::vector<std::string>> records_;  // the table's rows as read
};

// Log contact: the heard call, its time and frequency, RST sent and received (both from the
// mean SNR by default), an optional name and comment. OK (a report of 2 or 3 digits, e.g. 59)
// accepts; Cancel and Escape end it without a contact.
class ContactDialog : public QDialog {
    Q_OBJECT
  public:
    ContactDialog(const engine::HeardEntry& entry, std::optional<std::uint64_t> rf_hz,
                  QWidget* parent = nullptr);
    engine::ContactAnswers answers() const;
    // One line naming the field when a report is not acceptable, "" when both are.
    static QString report_problem(const QString& sent, const QString& received);

  private:
    void on_ok();

    QLineEdit* rst_sent_;
    QLineEdit* rst_received_;
    QLineEdit* name_;
    QLineEdit* comment_;
    QLabel* problem_;
};

}  // namespace tarpo::ui
