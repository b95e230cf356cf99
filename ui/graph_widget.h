// The graph control (1114): shows the canvas's picture, the frequency scale in a strip of its
// own below it, and reports clicks. It knows nothing of
// the engine: the main window hands it a GraphInput per tick and connects its two signals.
#pragma once

#include <QWidget>

#include "ui/graph_canvas.h"

namespace tarpo::ui {

class GraphWidget : public QWidget {
    Q_OBJECT
  public:
    // The frequency scale's strip under the picture, pixels; the picture never covers it.
    static constexpr int scale_height = 13;

    explicit GraphWidget(QWidget* parent = nullptr);

    void display_init() { canvas_.display_init(); }
    bool initialised() const { return canvas_.initialised(); }

    // Draws the input's view (erasing first for views 1..8) and repaints at once.
    void graph_invalidate(const GraphInput& input);

    const GraphCanvas& canvas() const { return canvas_; }

  signals:
    void acquisition_requested();       // left button pressed
    void tuning_requested(int column);  // right button pressed, column as click_column gives

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    GraphCanvas canvas_;
    int display_mode_ = engine::display_waterfall;  // of the last paint, for the frequency scale
};

}  // namespace tarpo::ui
