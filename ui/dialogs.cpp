#include "ui/dialogs.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/device_names.h"
#include "ui/placement.h"

namespace tarpo::ui {

namespace {

QPushButton* make_ok_button(QDialog* dialog, int x, int y, int width, int height) {
    auto* ok = make_control<QPushButton>(dialog, id_ok, x, y, width, height, QStringLiteral("OK"));
    ok->setDefault(true);
    ok->setAutoDefault(false);
    return ok;
}

// The selected entry of a single-selection list, or -1. The current item is not used: Qt
// makes the first entry current when the list takes the focus, without selecting it.
int selected_row(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

void select_row(QListWidget* list, int row) {
    if (row >= 0 && row < list->count()) {
        list->setCurrentRow(row);
    } else {
        list->clearSelection();
    }
}

}  // namespace

QPushButton* SettingsDialog::make_cancel_button(int x, int y, int width, int height) {
    auto* cancel =
        make_control<QPushButton>(this, id_cancel, x, y, width, height, QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    return cancel;
}

// ---------------------------------------------------------------- Sound Card Selection

SoundDialog::SoundDialog(engine::EngineApi& engine, std::filesystem::path directory,
                         QWidget* parent)
    : SettingsDialog(parent), engine_(engine), directory_(std::move(directory)) {
    setObjectName(control_name(id_sound_dialog));
    setWindowTitle(QStringLiteral("Sound Card Selection"));
    setFont(dialog_font(8));
    fix_client_size(this, 293, 166);

    fit_width(make_control<QLabel>(this, "", 6, 8, 26, 8, QStringLiteral("rx input")));
    rx_input_ = make_control<QListWidget>(this, id_rx_input_list, 6, 24, 132, 40);
    fit_width(make_control<QLabel>(this, "", 154, 9, 63, 8, QStringLiteral("tx output")));
    tx_output_ = make_control<QListWidget>(this, id_tx_output_list, 154, 24, 131, 40);
    fit_width(make_control<QLabel>(this, "", 6, 81, 36, 8, QStringLiteral("voice input")));
    voice_input_ = make_control<QListWidget>(this, id_voice_input_list, 6, 99, 132, 40);
    fit_width(make_control<QLabel>(this, "", 154, 81, 41, 8, QStringLiteral("voice output")));
    voice_output_ = make_control<QListWidget>(this, id_voice_output_list, 154, 99, 131, 40);
    QPushButton* ok = make_ok_button(this, 221, 147, 64, 14);
    connect(ok, &QPushButton::clicked, this, &SoundDialog::on_ok);
    make_cancel_button(154, 147, 64, 14);

    const engine::Controls& s = engine_.controls();
    fill(tx_output_, true, false, s.tx_output_device);
    fill(rx_input_, false, false, s.rx_input_device);
    fill(voice_input_, false, true, s.voice_input_device);
    fill(voice_output_, true, true, s.voice_output_device);
    // No control receives the initial focus.
    setFocus(Qt::OtherFocusReason);
}

void SoundDialog::fill(QListWidget* list, bool output, bool voice, int selected) {
    list->clear();
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    int count = output ? engine_.sound_output_count() : engine_.sound_input_count();
    // The SDR loop device, the last entry, is offered only for the radio side.
    if (voice && engine_.sound_loop_present()) count -= 1;
    for (int i = 0; i < count; ++i) {
        const std::string name =
            output ? engine_.sound_output_name(i) : engine_.sound_input_name(i);
        list->addItem(QString::fromStdString(name));
    }
    select_row(list, selected);
}

void SoundDialog::on_ok() {
    engine::Controls& s = engine_.controls();
    s.tx_output_device = selected_row(tx_output_);
    s.rx_input_device = selected_row(rx_input_);
    s.voice_input_device = selected_row(voice_input_);
    s.voice_output_device = selected_row(voice_output_);
    if (s.tx_active) {
        engine_.sound_select_output(s.tx_output_device, true);
        engine_.sound_select_input(s.voice_input_device, true);
    } else {
        engine_.sound_select_output(s.voice_output_device, true);
        engine_.sound_select_input(s.rx_input_device, true);
    }
    const engine::SoundChoices choices{s.tx_output_device, s.voice_input_device,
                                       s.voice_output_device, s.rx_input_device};
    engine::save_sound_choices(directory_ / engine::sound_file_name, choices);
    engine::save_device_names(directory_ / engine::device_names_file_name,
                              engine::selected_device_names(engine_));
    accept();
}

// ---------------------------------------------------------------- Set Comport

ComportDialog::ComportDialog(engine::EngineApi& engine, QWidget* parent)
    : SettingsDialog(parent), engine_(engine) {
    setObjectName(control_name(id_comport_dialog));
    setWindowTitle(QStringLiteral("Set Comport"));
    setFont(dialog_font(8));
    fix_client_size(this, 128, 111);

    fit_width(
        make_control<QLabel>(this, "", 7, 7, 104, 8, QStringLiteral("Select Com Port for PTT")));
    list_ = make_control<QListWidget>(this, id_comport_list, 23, 23, 52, 75);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    QPushButton* ok = make_ok_button(this, 83, 28, 38, 30);
    connect(ok, &QPushButton::clicked, this, &ComportDialog::on_ok);
    QPushButton* cancel = make_cancel_button(83, 62, 38, 30);

    list_->addItem(QStringLiteral("None "));
    for (int n = 1; n <= 8; ++n) list_->addItem(entry_text(n, engine_.ptt_port_device(n)));
    select_row(list_, engine_.controls().ptt_port_choice - '0');
    show_whole_paths(ok, cancel);
    setFocus(Qt::OtherFocusReason);
}

void ComportDialog::show_whole_paths(QWidget* ok, QWidget* cancel) {
    // The list is sized to its entries, paths whole (the stable USB names are long), with
    // room for the scroll bar the nine entries need; the dialog and its buttons follow the
    // list's right edge.
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int scroll_bar = list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
    const int wanted = list_->sizeHintForColumn(0) + 2 * list_->frameWidth() + scroll_bar + 8;
    const int grow = wanted - list_->width();
    if (grow <= 0) return;
    list_->resize(wanted, list_->height());
    ok->move(ok->x() + grow, ok->y());
    cancel->move(cancel->x() + grow, cancel->y());
    setFixedSize(width() + grow, height());
}

QString ComportDialog::entry_text(int n, const std::string& device) {
    QString text = QStringLiteral("Com %1").arg(n);
    if (!device.empty()) text += QStringLiteral("  ") + QString::fromStdString(device);
    return text;
}

void ComportDialog::on_ok() {
    const char choice = static_cast<char>('0' + selected_row(list_));
    engine_.controls().ptt_port_choice = choice;
    engine_.ptt_port_save(choice);
    engine_.ptt_port_open(choice);
    accept();
}

// ---------------------------------------------------------------- Set Callsign

CallsignDialog::CallsignDialog(engine::EngineApi& engine, engine::CallsignText& callsign,
                               std::filesystem::path directory, QWidget* parent)
    : SettingsDialog(parent),
      engine_(engine),
      callsign_(callsign),
      directory_(std::move(directory)) {
    setObjectName(control_name(id_callsign_dialog));
    setWindowTitle(QStringLiteral("Set Callsign"));
    setFont(dialog_font(8));
    fix_client_size(this, 227, 66);

    edit_ = make_control<QLineEdit>(this, id_callsign_edit, 7, 21, 213, 14);
    QPushButton* ok = make_ok_button(this, 170, 45, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CallsignDialog::on_ok);
    make_cancel_button(116, 45, 50, 14);
    edit_->setText(QString::fromLatin1(engine::callsign_string(callsign_)));
    edit_->setFocus(Qt::OtherFocusReason);
}

void CallsignDialog::on_ok() {
    // The callsign travels as 8-bit characters; letters outside Latin-1 become '?', which the
    // callsign channel does not send.
    const QByteArray bytes = edit_->text().toLatin1();
    callsign_ = engine::make_callsign_text(std::string(bytes.constData(), bytes.size()));
    engine_.callsign_set(callsign_.data());
    engine::save_callsign(directory_ / engine::callsign_file_name, callsign_);
    accept();
}

// ---------------------------------------------------------------- About

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(control_name(id_about_dialog));
    setWindowTitle(QStringLiteral("About"));
    setFont(dialog_font(10));
    fix_client_size(this, 252, 142);

    text_ = make_control<QTextEdit>(this, id_about_text, 7, 7, 238, 114);
    text_->setAcceptRichText(false);
    text_->setPlainText(credits());
    text_->selectAll();
    text_->setAlignment(Qt::AlignHCenter);
    text_->moveCursor(QTextCursor::Start);
    auto* close =
        make_control<QPushButton>(this, id_about_close, 7, 127, 238, 11, QStringLiteral("Close"));
    close->setAutoDefault(false);
    close->setFocus(Qt::OtherFocusReason);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(text_, &QTextEdit::textChanged, this, &QDialog::reject);
    text_->installEventFilter(this);
    text_->viewport()->installEventFilter(this);
}

QString AboutDialog::credits() {
    static constexpr const char* pieces[7] = {
        "TARPO   V1.3\n\n",
        "Digital voice for radio amateurs\nover an SSB voice channel.\n\n",
        "Fifteen DQPSK carriers 75 Hz apart,\n50 symbols per second, a centre pilot.\n\n",
        "Speech in 54 bits per 40 ms,\na callsign in two bits more.\n\n",
        "RSID, Split, ALC and an analog\npass-through.\n\n",
        "Written by the TARPO developers.\n",
        "Free software, without any warranty."};
    QString text;
    for (const char* piece : pieces) text += QString::fromLatin1(piece);
    return text;
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* event) {
    const bool click = watched == text_->viewport() && event->type() == QEvent::MouseButtonPress;
    const bool mouse_focus = watched == text_ && event->type() == QEvent::FocusIn &&
                             static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason;
    if (click || mouse_focus) {
        reject();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- Help

GuideDialog::GuideDialog(Topic topic, QWidget* parent) : QDialog(parent) {
    setObjectName(topic == Topic::guide ? QStringLiteral("guide") : QStringLiteral("keys"));
    setWindowTitle(topic == Topic::guide ? QStringLiteral("Operating guide")
                                         : QStringLiteral("Keys"));
    auto* layout = new QVBoxLayout(this);
    auto* browser = new QTextBrowser;
    browser->setObjectName(QStringLiteral("guide_text"));
    browser->setHtml(text(topic));
    layout->addWidget(browser);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(topic == Topic::guide ? 560 : 420, topic == Topic::guide ? 480 : 300);
}

QString GuideDialog::text(Topic topic) {
    if (topic == Topic::keys)
        return QStringLiteral(
            "<table cellpadding=3>"
            "<tr><td><b>F12</b></td><td>TX on / off, as the TX button</td></tr>"
            "<tr><td><b>Escape</b></td><td>ends a transmission (nothing while receiving); in "
            "a dialog: Cancel</td></tr>"
            "<tr><td><b>Enter</b></td><td>OK in a dialog</td></tr>"
            "<tr><td><b>Ctrl+L</b></td><td>in Heard stations: Log contact for the selected "
            "station (the newest without a selection)</td></tr>"
            "<tr><td><b>Alt+S, Alt+D, Alt+H</b></td><td>the Settings, Display and Help "
            "menus; Alt+O Sound, Alt+A About</td></tr>"
            "<tr><td><b>Up / Down</b></td><td>the squelch slider, once it has the "
            "focus</td></tr>"
            "<tr><td><b>Left click</b> in the graph</td><td>tune to the strongest "
            "signal</td></tr>"
            "<tr><td><b>Right click</b> in the graph</td><td>tune to the clicked frequency "
            "(925 to 2175 Hz)</td></tr>"
            "</table>");
    return QStringLiteral(
        "<h3>First start</h3>"
        "<p>Choose the sound cards in <b>Sound</b>: the rx input comes from the receiver, the "
        "tx output goes to the transmitter, voice input and output are your microphone and "
        "speaker. Set your callsign in <b>Settings &gt; Callsign</b>; it is sent beside the "
        "speech and shown in the title. Choose how the transmitter is keyed in <b>Settings "
        "&gt; ComPort</b> (RTS and DTR of a serial port) or <b>Settings &gt; Radio</b> (CAT "
        "through Hamlib, a rigctld, a CM108 GPIO, or none for VOX); the Radio dialog can also "
        "read the rig's dial with any of them. Set the rig to USB and its audio to a moderate "
        "level: the status line warns when the rx input clips or stays silent.</p>"
        "<h3>Transmitting</h3>"
        "<p>Press <b>TX</b> or <b>F12</b> to transmit and again to return to receive; "
        "<b>Escape</b> also ends a transmission. ON AIR in the status line is lit exactly "
        "while the transmitter is keyed. TXID starts each transmission with an identification "
        "burst; ALC raises the average level; Split keeps the transmitter at 1500 Hz.</p>"
        "<h3>Tuning</h3>"
        "<p>A left click in the graph tunes to the strongest signal; a right click tunes to "
        "the clicked frequency (925 to 2175 Hz). With RXID on, identification bursts retune "
        "the receiver to the station sending them. The tuned frequency is shown in the status "
        "line.</p>"
        "<h3>Squelch</h3>"
        "<p>The SQ slider sets how clean the signal must be before speech is played: higher "
        "on the slider closes it more easily, lower opens it on weaker signals. The round "
        "indicator below it is set while speech is played.</p>"
        "<h3>Heard stations</h3>"
        "<p>Every reception is logged in heard.csv (and heard.adi) with its time, callsign, "
        "SNR, audio frequency and, with a rig read through Hamlib, the dial frequency: "
        "<b>Display &gt; Heard stations</b> shows the log. <b>Settings &gt; Record received "
        "speech</b> keeps each reception as a sound file.</p>"
        "<p>The view, the toggles, the squelch and the tuned frequency are remembered for the "
        "next start, in operator.txt beside the other settings.</p>");
}

}  // namespace tarpo::ui
