#include "analysis/chartview.h"

#include <cstdlib>
#include <limits>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QtCharts/QValueAxis>

namespace tarvelo::gui {

GraphChartView::GraphChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
    setRubberBand(QChartView::RectangleRubberBand);
    setFocusPolicy(Qt::StrongFocus);
}

void GraphChartView::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::MiddleButton) {
        panning_ = true;
        panLast_ = pos;
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        // The rubber band only starts inside the plot area.
        zoomPressed_ = chart()->plotArea().contains(pos);
        zoomStart_ = pos;
    }
    QChartView::mousePressEvent(event);
}

void GraphChartView::mouseMoveEvent(QMouseEvent* event) {
    if (panning_) {
        const QPoint pos = event->position().toPoint();
        const QPoint delta = pos - panLast_;
        panLast_ = pos;
        if (!delta.isNull()) {
            // The curves follow the mouse.
            chart()->scroll(-delta.x(), delta.y());
            emit panning();
        }
        event->accept();
        return;
    }
    QChartView::mouseMoveEvent(event);
}

void GraphChartView::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::MiddleButton && panning_) {
        panning_ = false;
        unsetCursor();
        event->accept();
        emit viewChanged();
        return;
    }
    if (event->button() == Qt::RightButton) {
        // Undo every zoom and pan at once (the view before the first one).
        // The view before the first zoom may be far wider than this one:
        // a coarse label step first, so that the chart does not label it at
        // this view's fine step (the window sets the right one afterwards).
        for (QAbstractAxis* axis : chart()->axes(Qt::Horizontal)) {
            if (auto* values = qobject_cast<QValueAxis*>(axis);
                values && values->tickType() == QValueAxis::TicksDynamic)
                values->setTickInterval(std::numeric_limits<double>::max());
        }
        chart()->zoomReset();
        event->accept();
        emit viewChanged();
        return;
    }
    if (event->button() == Qt::LeftButton && zoomPressed_) {
        zoomPressed_ = false;
        // The view zooms into the band when it has an area; a plain click
        // changes nothing and must not count as a zoom.
        const bool zooms = std::abs(pos.x() - zoomStart_.x()) > 0 &&
                           std::abs(pos.y() - zoomStart_.y()) > 0;
        QChartView::mouseReleaseEvent(event);
        if (zooms)
            emit viewChanged();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void GraphChartView::keyPressEvent(QKeyEvent* event) {
    const QRectF area = chart()->plotArea();
    const qreal dx = area.width() / 10;
    const qreal dy = area.height() / 10;
    switch (event->key()) {
        case Qt::Key_Left:
            chart()->scroll(-dx, 0);
            break;
        case Qt::Key_Right:
            chart()->scroll(dx, 0);
            break;
        case Qt::Key_Up:
            chart()->scroll(0, dy);
            break;
        case Qt::Key_Down:
            chart()->scroll(0, -dy);
            break;
        default:
            QChartView::keyPressEvent(event);
            return;
    }
    event->accept();
    emit viewChanged();
}

}  // namespace tarvelo::gui
