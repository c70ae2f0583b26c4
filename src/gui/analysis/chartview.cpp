#include "analysis/chartview.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QtCharts/QValueAxis>

namespace tarvelo::gui {

namespace {

// One notch of the wheel (120 eighths of a degree) narrows the view to 1/1.2
// of its width and height, or widens it by 1.2.
constexpr double kWheelZoomPerNotch = 1.2;

}  // namespace

GraphChartView::GraphChartView(QChart* chart, QWidget* parent)
    : QChartView(chart, parent), history_(chart) {
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
            history_.remember();
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
        event->accept();
        // Nothing to undo: a stray click leaves the view and its scaling
        // (automatic or not) as they are.
        if (history_.empty())
            return;
        // Undo every zoom and pan at once (the view before the first one).
        // The view before the first zoom may be far wider than this one:
        // a coarse label step first, so that the chart does not label it at
        // this view's fine step (the window sets the right one afterwards).
        for (QAbstractAxis* axis : chart()->axes(Qt::Horizontal)) {
            if (auto* values = qobject_cast<QValueAxis*>(axis);
                values && values->tickType() == QValueAxis::TicksDynamic)
                values->setTickInterval(std::numeric_limits<double>::max());
        }
        history_.restore();
        emit viewChanged();
        return;
    }
    if (event->button() == Qt::LeftButton && zoomPressed_) {
        zoomPressed_ = false;
        // The view zooms into the band when it has an area; a plain click
        // changes nothing and must not count as a zoom.
        const bool zooms =
            std::abs(pos.x() - zoomStart_.x()) > 0 && std::abs(pos.y() - zoomStart_.y()) > 0;
        if (zooms)
            history_.remember();
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
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            history_.remember();
            break;
        default:
            break;
    }
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

void GraphChartView::wheelEvent(QWheelEvent* event) {
    const QRectF area = chart()->plotArea();
    // The view shows the scene unscaled: its origin and the cursor's offset.
    const QPointF at = chart()->mapFromScene(QPointF(mapToScene(QPoint(0, 0))) + event->position());
    const int notches = event->angleDelta().y();
    if (notches == 0 || !area.contains(at) || area.width() <= 0 || area.height() <= 0) {
        event->ignore();
        return;
    }
    // Forward zooms in. The value under the cursor stays under the cursor.
    const double factor = std::pow(kWheelZoomPerNotch, notches / 120.0);
    history_.remember();
    for (QAbstractAxis* axis : chart()->axes()) {
        auto* value = qobject_cast<QValueAxis*>(axis);
        if (!value)
            continue;
        const double fraction = value->orientation() == Qt::Horizontal
                                    ? (at.x() - area.left()) / area.width()
                                    : (area.bottom() - at.y()) / area.height();
        const double range = value->max() - value->min();
        const double centre = value->min() + fraction * range;
        const double narrowed = range / factor;
        value->setRange(centre - fraction * narrowed, centre + (1 - fraction) * narrowed);
    }
    event->accept();
    emit viewChanged();
}

}  // namespace tarvelo::gui
