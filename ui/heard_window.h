// Display -> Heard stations: the entries of heard.csv in a table of their own, the operator
// panel reloading it on every new entry.
#pragma once

#include <QDialog>
#include <filesystem>

class QTableWidget;

namespace tarpo::ui {

// Display -> Heard stations: the entries of heard.csv, newest last, reloaded on every entry.
class HeardWindow : public QDialog {
    Q_OBJECT
  public:
    HeardWindow(std::filesystem::path csv, QWidget* parent);
    void reload();

  private:
    std::filesystem::path csv_;
    QTableWidget* table_;
};

}  // namespace tarpo::ui
