#include "ui/graph_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "ui/operator_layout.h"

namespace tarpo::ui {

GraphWidget::GraphWidget(QWidget* parent) : QWidget(parent), canvas_(graph_columns, graph_rows) {
    // The laid-out size is the least; a larger window stretches the picture over the control.
    setMinimumSize(graph_columns, graph_rows + scale_height);
    resize(graph_columns, graph_rows + scale_height);
    setCursor(Qt::CrossCursor);
    // Every paint covers the whole control from the persistent picture: no erasing by Qt,
    // which would break the line-by-line waterfall.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GraphWidget::graph_invalidate(const GraphInput& input) {
    display_mode_ = input.display_mode;
    canvas_.graph_paint(input, input.display_mode <= 8);
    repaint();
}

void GraphWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int strip_top = std::max(0, height() - scale_height);
    const QRect picture_rect(0, 0, width(), strip_top);
    if (picture_rect.size() == canvas_.picture().size())
        painter.drawImage(0, 0, canvas_.picture());
    else
        painter.drawImage(picture_rect, canvas_.picture());
    painter.fillRect(QRect(0, strip_top, width(), height() - strip_top), QColor(24, 24, 24));
    if (!has_frequency_scale(display_mode_)) return;
    // Frequency scale: a tick every 250 Hz hanging from the picture, labelled every 500 Hz.
    painter.setPen(QColor(200, 200, 200));
    QFont small = font();
    small.setPixelSize(scale_height - 3);
    painter.setFont(small);
    for (const ScaleTick& t : frequency_scale()) {
        const int x = (2 * t.column + 1) * width() / (2 * graph_columns);
        painter.drawLine(x, strip_top, x, strip_top + (t.labelled ? 3 : 2));
        if (t.labelled)
            painter.drawText(QRect(x - 20, strip_top + 2, 40, scale_height - 2),
                             Qt::AlignHCenter | Qt::AlignBottom, QString::number(t.hz));
    }
}

void GraphWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit acquisition_requested();
    } else if (event->button() == Qt::RightButton) {
        const int x = event->position().toPoint().x() * graph_columns / std::max(1, width());
        emit tuning_requested(click_column(x));
    }
}

}  // namespace tarpo::ui
