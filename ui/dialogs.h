// The four settings dialogs. Each starts from the values in memory, acts only on OK (Sound
// Card Selection, Set Comport, Set Callsign; Cancel, the Escape key and closing the window end
// them without change and write nothing) and writes its file whole. About closes on anything.
#pragma once

#include <QDialog>
#include <filesystem>

#include "engine/engine_api.h"
#include "engine/settings_files.h"

class QListWidget;
class QPushButton;
class QLineEdit;
class QTextEdit;

namespace tarpo::ui {

// A settings dialog: OK acts, Cancel (control 2) and Escape end it without change.
class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    using QDialog::QDialog;

  protected:
    QPushButton* make_cancel_button(int x, int y, int width, int height);
};

// Template 1001: the four device lists (1123 rx input, 1121 tx output, 1125 voice input, 1124
// voice output), OK (1) and Cancel (2). On OK the selections go into the shared device indices (-1
// for a list without a selection), the pair of the direction in use is applied at once, and sc.txt
// is written.
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
// maps to, when there is one, shown whole), OK (1) and Cancel (2). On OK the choice is '0' + the
// selected entry ('/' with none selected), saved and opened at once.
class ComportDialog : public SettingsDialog {
    Q_OBJECT
  public:
    explicit ComportDialog(engine::EngineApi& engine, QWidget* parent = nullptr);

    static QString entry_text(int n, const std::string& device);

  private:
    void on_ok();
    void show_whole_paths(QWidget* ok, QWidget* cancel);

    engine::EngineApi& engine_;
    QListWidget* list_;
};

// Template 160: edit 1131 holding the callsign, OK (1) and Cancel (2). On OK at most 79 characters
// of the field become the callsign text, callsign_set builds its sequence (and puts it in capitals
// in place), and cs.txt is written.
class CallsignDialog : public SettingsDialog {
    Q_OBJECT
  public:
    CallsignDialog(engine::EngineApi& engine, engine::CallsignText& callsign,
                   std::filesystem::path directory, QWidget* parent = nullptr);

  private:
    void on_ok();

    engine::EngineApi& engine_;
    engine::CallsignText& callsign_;
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

// Help > Operating guide and Help > Keys: a few paragraphs on first start, transmitting,
// tuning, the squelch and the heard log, or the keys; Close, Escape or the window's close end
// it.
class GuideDialog : public QDialog {
    Q_OBJECT
  public:
    enum class Topic { guide, keys };
    explicit GuideDialog(Topic topic, QWidget* parent = nullptr);
    static QString text(Topic topic);
};

}  // namespace tarpo::ui
