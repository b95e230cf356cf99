// Placing controls the way the dialog templates give them: absolute positions in dialog units,
// the identifier (ui/control_ids.h) as the object name.
#pragma once

#include <QApplication>
#include <QFont>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <utility>

#include "ui/control_ids.h"
#include "ui/ui_maths.h"

namespace tarpo::ui {

inline void place(QWidget* w, int x, int y, int width, int height) {
    const PixelRect r = dialog_rect(x, y, width, height);
    w->setGeometry(r.x, r.y, r.width, r.height);
}

// The object name of the widget or menu entry `id`: its number.
inline QString control_name(ControlId id) {
    return QString::number(static_cast<int>(id));
}

// A control of type W with parent, object name (empty for none) and position.
template <typename W, typename... Args>
W* make_control(QWidget* parent, const char* name, int x, int y, int width, int height,
                Args&&... args) {
    W* w = new W(std::forward<Args>(args)..., parent);
    if (name[0] != '\0') w->setObjectName(QString::fromLatin1(name));
    place(w, x, y, width, height);
    return w;
}

// The same, named by its identifier.
template <typename W, typename... Args>
W* make_control(QWidget* parent, ControlId id, int x, int y, int width, int height,
                Args&&... args) {
    W* w = make_control<W>(parent, "", x, y, width, height, std::forward<Args>(args)...);
    w->setObjectName(control_name(id));
    return w;
}

// A window whose client area is width x height dialog units, not resizable.
inline void fix_client_size(QWidget* w, int width, int height) {
    w->setFixedSize(dialog_x(width), dialog_y(height));
}

// The dialogs' sans-serif font: faces with the widths of the fonts the layout was drawn for
// come first, so that captions fit their controls; the desktop's font otherwise.
inline QFont dialog_font(int points) {
    QFont f = QApplication::font();
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                   QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"), f.family()});
    f.setPointSize(points);
    return f;
}

// A static text keeps its place but grows to show its whole caption in a wider font.
inline void fit_width(QWidget* w) {
    w->resize(std::max(w->width(), w->sizeHint().width()), w->height());
}

}  // namespace tarpo::ui
