#pragma once

#include <QPoint>
#include <QtCharts/QChartView>

#include "analysis/zoomhistory.h"

namespace tarvelo::gui {

// The graph's chart view with its mouse and key gestures: drag a rectangle
// with the left button to zoom into it, turn the mouse wheel to zoom in or
// out around the cursor, drag with the middle button (or use the arrow keys)
// to pan, click the right button to return to the view before the first zoom
// or pan (with no zoom or pan to undo, the click does nothing).
class GraphChartView : public QChartView {
    Q_OBJECT
public:
    explicit GraphChartView(QChart* chart, QWidget* parent = nullptr);

    // A new view starts (a showing, limits typed by the operator, automatic
    // scaling ticked): undo zoom returns to the view before the next zoom or
    // pan, not to an earlier one.
    void forgetZoomHistory() { history_.forget(); }

signals:
    // After a zoom, a pan or an undone zoom, when the gesture is complete.
    void viewChanged();
    // While a pan drag is under way, after each step.
    void panning();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    ZoomHistory history_;
    QPoint zoomStart_;
    bool zoomPressed_ = false;
    QPoint panLast_;
    bool panning_ = false;
};

}  // namespace tarvelo::gui
