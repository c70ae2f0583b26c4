#pragma once

#include <QPoint>
#include <QtCharts/QChartView>

namespace tarvelo::gui {

// The graph's chart view with its mouse and key gestures: drag a rectangle
// with the left button to zoom into it, drag with the middle button (or use
// the arrow keys) to pan, click the right button to undo the zoom.
class GraphChartView : public QChartView {
    Q_OBJECT
public:
    explicit GraphChartView(QChart* chart, QWidget* parent = nullptr);

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

private:
    QPoint zoomStart_;
    bool zoomPressed_ = false;
    QPoint panLast_;
    bool panning_ = false;
};

}  // namespace tarvelo::gui
