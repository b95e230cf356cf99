// The four settings dialogs. Each starts from the values in memory, acts only on OK (Sound
// Card Selection, Set Comport, Set Callsign; the Escape key does not close them, closing the
// window ends them without change) and writes its file whole. About closes on anything.
#pragma once

#include <QDialog>
#include <filesystem>

#include "engine/engine_api.h"
#include "ui/settings_files.h"

class QListWidget;
class QLineEdit;
class QTextEdit;

namespace tarpo::ui {

// A dialog whose Escape key does nothing.
class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    using QDialog::QDialog;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Template 1001: the four device lists (1123 rx input, 1121 tx output, 1125 voice input, 1124
// voice output) and OK (1). On OK the selections go into the shared device indices (-1 for a
// list without a selection), the pair of the direction in use is applied at once, and sc.txt is
// written.
class SoundDialog : public SettingsDialog {
    Q_OBJECT
  public:
    SoundDialog(engine::EngineApi& engine, std::filesystem::path directory,
                QWidget* parent = nullptr);

  private:
    void fill(QListWidget* list, bool output, bool voice, int selected);
    void on_ok();

    engine::EngineApi& engine_;
    std::filesystem::path directory_;
    QListWidget* tx_output_;
    QListWidget* rx_input_;
    QListWidget* voice_input_;
    QListWidget* voice_output_;
};

// Template 158: list 1126 of "None " and "Com 1".."Com 8" (each followed by the Linux device it
// maps to, when there is one) and OK (1). On OK the choice is '0' + the selected entry ('/'
// with none selected), saved and opened at once.
class ComportDialog : public SettingsDialog {
    Q_OBJECT
  public:
    explicit ComportDialog(engine::EngineApi& engine, QWidget* parent = nullptr);

    static QString entry_text(int n, const std::string& device);

  private:
    void on_ok();
    void show_whole_paths(QWidget* ok);

    engine::EngineApi& engine_;
    QListWidget* list_;
};

// Template 160: edit 1131 holding the callsign and OK (1). On OK at most 79 characters of the
// field become the callsign text, callsign_set builds its sequence (and puts it in capitals in
// place), and cs.txt is written.
class CallsignDialog : public SettingsDialog {
    Q_OBJECT
  public:
    CallsignDialog(engine::EngineApi& engine, CallsignText& callsign,
                   std::filesystem::path directory, QWidget* parent = nullptr);

  private:
    void on_ok();

    engine::EngineApi& engine_;
    CallsignText& callsign_;
    std::filesystem::path directory_;
    QLineEdit* edit_;
};

// Template 159: the credits in edit 1127 and Close (1130). Any command from the dialog ends it:
// the button, Escape, a change of the text, or the text field taking the focus from a click.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
    static QString credits();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QTextEdit* text_;
};

}  // namespace tarpo::ui
