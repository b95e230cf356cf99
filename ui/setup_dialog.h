// The set-up dialog of a first start (no cs.txt and no sc.txt in the settings directory): the
// callsign and an optional locator, the four sound devices with a live level meter on the
// inputs and a test tone on the outputs, the PTT method of the Radio dialog with the PTT port,
// Test PTT and Test CAT. OK writes cs.txt, sc.txt, sc_names.txt, radio.txt, txport.bin and
// locator.txt and applies them; Cancel, Escape and closing the window change nothing (the
// program then runs with NOCALL and refuses to transmit).
#pragma once

#include <QDialog>
#include <filesystem>

#include "engine/engine_api.h"
#include "engine/settings_files.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

namespace tarpo::ui {

class RadioDialog;

inline constexpr const char* locator_file_name = "locator.txt";

// Whether a start finds no settings of its own in `directory`: neither cs.txt nor sc.txt.
bool first_start(const std::filesystem::path& directory);

// A Maidenhead locator of 4, 6 or 8 characters ("JO31", "JO31ne", "JO31NE12"), or empty.
bool locator_valid(const std::string& text);

class SetupDialog : public QDialog {
    Q_OBJECT
  public:
    // callsign: the program's callsign text, set on OK.
    SetupDialog(engine::EngineApi& engine, engine::CallsignText& callsign,
                std::filesystem::path directory, QWidget* parent = nullptr);
    ~SetupDialog() override;

  private:
    QComboBox* device_list(bool output, bool voice, int selected, const char* name);
    void meter_tick();
    void test_ptt();
    void test_cat();
    void on_ok();
    // Cancel, Escape, closing the window: the PTT method and port as they were.
    void reject() override;
    char port_choice() const;

    engine::EngineApi& engine_;
    engine::CallsignText& callsign_;
    std::filesystem::path directory_;
    ptt::RadioSettings radio_before_;
    char port_before_ = '0';
    QLineEdit* callsign_edit_ = nullptr;
    QLineEdit* locator_edit_ = nullptr;
    QComboBox* tx_output_ = nullptr;
    QComboBox* voice_input_ = nullptr;
    QComboBox* voice_output_ = nullptr;
    QComboBox* rx_input_ = nullptr;
    QProgressBar* rx_level_ = nullptr;
    QProgressBar* voice_level_ = nullptr;
    QComboBox* port_ = nullptr;
    RadioDialog* radio_ = nullptr;
    QLabel* result_ = nullptr;
    QTimer* meter_timer_ = nullptr;
    bool ended_ = false;
};

}  // namespace tarpo::ui
