// The Radio dialog (Settings menu): how the transmitter is keyed and which rig the program
// talks to. It starts from the engine's settings, and on OK writes radio.txt and applies the
// choice at once; Cancel, Escape and closing the window change nothing. With PTT another way
// than Hamlib, a rig may still be read for its dial (never keyed then). A note says when the
// SDR loop device is the transmit output, which keys itself instead of the chosen PTT.
#pragma once

#include <QDialog>
#include <QString>
#include <filesystem>

#include "engine/engine_api.h"
#include "ptt/radio_settings.h"
#include "ptt/rig_readout.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace tarpo::ui {

// The main window's readout of the rig: "14.236.000 USB" (the dial in Hz, grouped by
// thousands), " TX" while the rig confirms PTT; the link's state before the first answer and
// after a failure; empty without a rig.
QString rig_readout_text(const ptt::RigReadout& readout);

class RadioDialog : public QDialog {
    Q_OBJECT
  public:
    RadioDialog(engine::EngineApi& engine, std::filesystem::path directory,
                QWidget* parent = nullptr);

    // The settings as the dialog shows them now.
    ptt::RadioSettings settings() const;
    // What the loop note says for PTT `kind` ("" when it is hidden): the loop device is the
    // transmit output and a keying method other than none is chosen.
    QString loop_note(ptt::PttKind kind) const;

  private:
    void build(const ptt::RadioSettings& s);
    QGroupBox* build_cat(const ptt::RadioSettings& s);
    QGroupBox* build_net(const ptt::RadioSettings& s);
    QGroupBox* build_cm108(const ptt::RadioSettings& s);
    void show_method();
    void on_ok();

    engine::EngineApi& engine_;
    std::filesystem::path directory_;
    QComboBox* method_ = nullptr;
    QComboBox* dial_rig_ = nullptr;
    QLabel* loop_note_ = nullptr;
    QGroupBox* cat_ = nullptr;
    QGroupBox* net_ = nullptr;
    QGroupBox* cm108_ = nullptr;
    QComboBox* rig_model_ = nullptr;
    QComboBox* rig_port_ = nullptr;
    QComboBox* rig_baud_ = nullptr;
    QLineEdit* net_host_ = nullptr;
    QSpinBox* net_port_ = nullptr;
    QComboBox* cm108_device_ = nullptr;
    QSpinBox* cm108_gpio_ = nullptr;
};

}  // namespace tarpo::ui
