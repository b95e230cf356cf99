// Settings > Network: what network.txt says (reception reports and where they go, the antenna,
// the dial frequency for a station without a rig, the logger messages and the bare ADIF
// records with their destinations). OK checks every value, refusing a bad one with one line
// naming the setting, and writes network.txt whole; Cancel, Escape and closing the window change
// nothing.
#pragma once

#include <QDialog>
#include <QString>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/network_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace tarpo::ui {

class NetworkDialog : public QDialog {
    Q_OBJECT
  public:
    // `callsign` and `locator`: the station's (cs.txt, locator.txt), which reports need.
    NetworkDialog(const engine::NetworkSettings& current, std::filesystem::path directory,
                  std::string callsign, std::string locator, QWidget* parent = nullptr);

    // The settings the fields hold, when they are all acceptable; else one line naming the
    // first setting that is not, in `problem`.
    std::optional<engine::NetworkSettings> settings(QString& problem) const;
    // What OK wrote (valid once accepted).
    const engine::NetworkSettings& accepted_settings() const { return accepted_; }

  private:
    void on_ok();

    std::filesystem::path directory_;
    std::string callsign_;
    std::string locator_;
    engine::NetworkSettings accepted_;
    QCheckBox* report_;
    QLineEdit* report_to_;
    QLineEdit* antenna_;
    QLineEdit* dial_;
    QCheckBox* logger_;
    QLineEdit* logger_to_;
    QCheckBox* adif_;
    QLineEdit* adif_to_;
    QLabel* problem_;
};

}  // namespace tarpo::ui
