#include "ui/graph_widget.h"

#include <QMouseEvent>
#include <QPainter>

namespace tarpo::ui {

GraphWidget::GraphWidget(QWidget* parent) : QWidget(parent), canvas_(graph_columns, graph_rows) {
    setFixedSize(graph_columns, graph_rows);
    setCursor(Qt::CrossCursor);
    // Every paint covers the whole control from the persistent picture: no erasing by Qt,
    // which would break the line-by-line waterfall.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GraphWidget::graph_invalidate(const GraphInput& input) {
    canvas_.graph_paint(input, input.display_mode <= 8);
    repaint();
}

void GraphWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, canvas_.picture());
}

void GraphWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit acquisition_requested();
    } else if (event->button() == Qt::RightButton) {
        emit tuning_requested(click_column(event->position().toPoint().x()));
    }
}

}  // namespace tarpo::ui
