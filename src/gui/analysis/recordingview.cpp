#include "analysis/recordingview.h"

#include <algorithm>
#include <cmath>

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "analysis/timeaxis.h"

namespace tarvelo::gui {

namespace {

constexpr int kLeftMargin = 72, kRightMargin = 12, kTopMargin = 10, kBottomMargin = 40;
constexpr std::size_t kHistoryLimit = 200;
// Single samples are drawn as points while each has at least this many pixels.
constexpr double kPixelsPerPoint = 3.0;
// The narrowest view, in milliseconds.
constexpr double kNarrowestSpan = 4.0;

// A round step (1, 2 or 5 times a power of ten) of about `wanted`.
double roundStep(double wanted) {
    const double power = std::pow(10.0, std::floor(std::log10(wanted)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= wanted)
            return factor * power;
    }
    return 10.0 * power;
}

}  // namespace

RecordingView::RecordingView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    colours_ = {QColor(Qt::red), QColor(Qt::green), QColor(Qt::yellow), QColor(Qt::blue)};
}

void RecordingView::setRecording(const recording::Recording* recording) {
    recording_ = recording;
    history_.clear();
    View whole;
    if (recording_ && !recording_->empty()) {
        const double first = static_cast<double>(recording_->timeMs(0));
        const double last = static_cast<double>(recording_->timeMs(recording_->size() - 1));
        const double margin = std::max(1.0, (last - first) * 0.002);
        whole.startMs = first - margin;
        whole.endMs = last + margin;
    }
    setViewQuietly(whole);
    emit viewChanged();
    update();
}

void RecordingView::setChannelShown(int channel, bool shown) {
    shown_[static_cast<std::size_t>(channel)] = shown;
    update();
}

void RecordingView::setColour(int channel, const QColor& colour) {
    colours_[static_cast<std::size_t>(channel)] = colour;
    update();
}

void RecordingView::setViewQuietly(View view) {
    // No wider than ten times the run (and a day), so the time axis stays
    // within the dates it can show.
    if (recording_ && !recording_->empty()) {
        const double run = static_cast<double>(recording_->timeMs(recording_->size() - 1) -
                                               recording_->timeMs(0));
        const double widest = 10 * run + 86400000.0;
        if (view.endMs - view.startMs > widest) {
            const double middle = (view.startMs + view.endMs) / 2;
            view.startMs = middle - widest / 2;
            view.endMs = middle + widest / 2;
        }
    }
    if (!(view.endMs - view.startMs >= kNarrowestSpan)) {
        const double middle = (view.startMs + view.endMs) / 2;
        view.startMs = middle - kNarrowestSpan / 2;
        view.endMs = middle + kNarrowestSpan / 2;
    }
    view_ = view;
}

void RecordingView::showView(const View& view) {
    history_.push_back(view_);
    if (history_.size() > kHistoryLimit)
        history_.erase(history_.begin());
    setViewQuietly(view);
    emit viewChanged();
    update();
}

void RecordingView::wholeRun() {
    if (!recording_ || recording_->empty())
        return;
    const double first = static_cast<double>(recording_->timeMs(0));
    const double last = static_cast<double>(recording_->timeMs(recording_->size() - 1));
    const double margin = std::max(1.0, (last - first) * 0.002);
    showView(View{first - margin, last + margin, false, 0, 1});
}

bool RecordingView::undo() {
    if (history_.empty())
        return false;
    setViewQuietly(history_.back());
    history_.pop_back();
    emit viewChanged();
    update();
    return true;
}

std::pair<uint64_t, uint64_t> RecordingView::visibleStretch() const {
    if (!recording_)
        return {0, 0};
    return {recording_->lowerBound(view_.startMs),
            recording_->lowerBound(std::floor(view_.endMs) + 1.0)};
}

QRect RecordingView::plotArea() const {
    return QRect(kLeftMargin, kTopMargin, std::max(1, width() - kLeftMargin - kRightMargin),
                 std::max(1, height() - kTopMargin - kBottomMargin));
}

double RecordingView::xOfTime(double timeMs) const {
    const QRect area = plotArea();
    return area.left() + (timeMs - view_.startMs) / (view_.endMs - view_.startMs) * area.width();
}

double RecordingView::timeOfX(double x) const {
    const QRect area = plotArea();
    return view_.startMs + (x - area.left()) / area.width() * (view_.endMs - view_.startMs);
}

double RecordingView::yOf(double value, const QRect& area) const {
    return area.bottom() - (value - yMin_) / (yMax_ - yMin_) * (area.height() - 1);
}

void RecordingView::computeColumns() {
    const QRect area = plotArea();
    columns_ = recording_ ? recording_->envelope(view_.startMs, view_.endMs, area.width())
                          : std::vector<recording::ColumnEnvelope>{};
    if (view_.yFixed) {
        yMin_ = view_.yMin;
        yMax_ = view_.yMax;
        return;
    }
    int64_t lo = std::numeric_limits<int64_t>::max(), hi = std::numeric_limits<int64_t>::min();
    for (const auto& column : columns_) {
        if (column.empty())
            continue;
        for (int k = 0; k < 4; ++k) {
            if (!shown_[static_cast<std::size_t>(k)])
                continue;
            lo = std::min(lo, column.channel[static_cast<std::size_t>(k)].min);
            hi = std::max(hi, column.channel[static_cast<std::size_t>(k)].max);
        }
    }
    if (lo > hi) {
        yMin_ = 0;
        yMax_ = 1;
        return;
    }
    const double min = recording::Recording::toValue(lo), max = recording::Recording::toValue(hi);
    const double margin = max > min ? (max - min) * 0.05 : std::max(1.0, std::abs(min) * 0.05);
    yMin_ = min - margin;
    yMax_ = max + margin;
}

void RecordingView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRect area = plotArea();
    painter.fillRect(area, Qt::white);
    computeColumns();
    drawAxes(painter, area);
    painter.save();
    painter.setClipRect(area);
    drawCurves(painter, area);
    if (drag_ == Drag::Box) {
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.setBrush(QColor(0, 0, 255, 40));
        painter.drawRect(QRect(dragFrom_, dragTo_).normalized());
    }
    if (cursorX_) {
        painter.setPen(QPen(QColor(80, 80, 80), 1));
        painter.drawLine(*cursorX_, area.top(), *cursorX_, area.bottom());
    }
    painter.restore();
    painter.setPen(palette().windowText().color());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
}

void RecordingView::drawCurves(QPainter& painter, const QRect& area) {
    drewPoints_ = false;
    if (!recording_ || recording_->empty())
        return;
    const auto [from, to] = visibleStretch();
    const auto& r = *recording_;
    std::vector<QLineF> lines;
    drewPoints_ = static_cast<double>(to - from) * kPixelsPerPoint <= area.width();
    if (drewPoints_) {
        // Single samples: points joined by lines, from the one before the
        // view to the one after it, and none across a gap.
        const uint64_t first = from > 0 ? from - 1 : 0;
        const uint64_t last = std::min(r.size(), to + 1);
        for (int k = 0; k < 4; ++k) {
            if (!shown_[static_cast<std::size_t>(k)])
                continue;
            lines.clear();
            std::vector<QRectF> points;
            for (uint64_t i = first; i < last; ++i) {
                const QPointF p(xOfTime(static_cast<double>(r.timeMs(i))), yOf(r.value(k, i), area));
                if (i > first && !r.gapBetween(i - 1, i))
                    lines.emplace_back(QPointF(xOfTime(static_cast<double>(r.timeMs(i - 1))),
                                               yOf(r.value(k, i - 1), area)),
                                       p);
                points.emplace_back(p.x() - 2, p.y() - 2, 4, 4);
            }
            painter.setPen(QPen(colours_[static_cast<std::size_t>(k)], 1));
            painter.drawLines(lines.data(), static_cast<int>(lines.size()));
            painter.setBrush(colours_[static_cast<std::size_t>(k)]);
            painter.drawRects(points.data(), static_cast<int>(points.size()));
        }
        return;
    }
    // The envelope: per column a line from its smallest to its largest
    // value, joined to the column before unless a gap lies between them.
    for (int k = 0; k < 4; ++k) {
        if (!shown_[static_cast<std::size_t>(k)])
            continue;
        lines.clear();
        const recording::ColumnEnvelope* previous = nullptr;
        double previousX = 0;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const auto& column = columns_[c];
            if (column.empty())
                continue;
            const double x = area.left() + static_cast<double>(c) + 0.5;
            const auto& e = column.channel[static_cast<std::size_t>(k)];
            const double top = yOf(recording::Recording::toValue(e.max), area);
            const double bottom = yOf(recording::Recording::toValue(e.min), area);
            lines.emplace_back(x, top, x, std::max(bottom, top + 0.5));
            if (previous && !r.gapBetween(previous->to - 1, column.from))
                lines.emplace_back(previousX, yOf(r.value(k, previous->to - 1), area), x,
                                   yOf(r.value(k, column.from), area));
            previous = &column;
            previousX = x;
        }
        painter.setPen(QPen(colours_[static_cast<std::size_t>(k)], 1));
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
    }
}

void RecordingView::drawAxes(QPainter& painter, const QRect& area) {
    const QLocale locale;
    const QFontMetrics metrics = painter.fontMetrics();
    const QPen grid(QColor(200, 200, 200), 1, Qt::DotLine);
    const QColor text = palette().windowText().color();

    // Values: round steps about every 40 pixels.
    const double step = roundStep((yMax_ - yMin_) * 40.0 / std::max(1, area.height()));
    const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 5);
    for (double v = std::ceil(yMin_ / step) * step; v <= yMax_; v += step) {
        const int y = static_cast<int>(std::lround(yOf(v, area)));
        painter.setPen(grid);
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(text);
        const QString label = locale.toString(std::abs(v) < step / 2 ? 0.0 : v, 'f', decimals);
        painter.drawText(QRect(0, y - metrics.height() / 2, area.left() - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, label);
    }

    // Time: round steps, the date under the first label and where it changes.
    for (const TimeLabel& label : TimeAxis::labels(view_.startMs, view_.endMs, area.width(), locale)) {
        const int x = static_cast<int>(std::lround(xOfTime(label.timeMs)));
        painter.setPen(grid);
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.setPen(text);
        painter.drawLine(x, area.bottom(), x, area.bottom() + 4);
        const int width = 160;
        // A label that would run past the widget's edge is left out.
        const int half = std::max(metrics.horizontalAdvance(label.time),
                                  metrics.horizontalAdvance(label.date)) / 2;
        if (x - half < 0 || x + half > this->width())
            continue;
        int line = area.bottom() + 5;
        if (!label.time.isEmpty()) {
            painter.drawText(QRect(x - width / 2, line, width, metrics.height()), Qt::AlignHCenter,
                             label.time);
            line += metrics.height();
        }
        if (!label.date.isEmpty())
            painter.drawText(QRect(x - width / 2, line, width, metrics.height()), Qt::AlignHCenter,
                             label.date);
    }
}

std::optional<uint64_t> RecordingView::nearestSample(double timeMs) const {
    if (!recording_ || recording_->empty())
        return std::nullopt;
    const uint64_t after = std::min(recording_->lowerBound(timeMs), recording_->size() - 1);
    if (after == 0)
        return after;
    const double a = static_cast<double>(recording_->timeMs(after - 1));
    const double b = static_cast<double>(recording_->timeMs(after));
    return timeMs - a <= b - timeMs ? after - 1 : after;
}

void RecordingView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0 || !recording_)
        return;
    const double factor = std::pow(0.8, notches);
    const double anchor = timeOfX(event->position().x());
    View next = view_;
    next.startMs = anchor - (anchor - view_.startMs) * factor;
    next.endMs = anchor + (view_.endMs - anchor) * factor;
    showView(next);
    event->accept();
}

void RecordingView::mousePressEvent(QMouseEvent* event) {
    if (!recording_)
        return;
    dragFrom_ = dragTo_ = event->position().toPoint();
    dragStartView_ = view_;
    if (event->button() == Qt::RightButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier)))
        drag_ = Drag::Box;
    else if (event->button() == Qt::LeftButton)
        drag_ = Drag::Pan;
}

void RecordingView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QRect area = plotArea();
    if (drag_ == Drag::Pan) {
        const double perPixel = (dragStartView_.endMs - dragStartView_.startMs) / area.width();
        View next = dragStartView_;
        next.startMs -= (at.x() - dragFrom_.x()) * perPixel;
        next.endMs -= (at.x() - dragFrom_.x()) * perPixel;
        if (next.yFixed) {
            const double perRow = (next.yMax - next.yMin) / area.height();
            next.yMin += (at.y() - dragFrom_.y()) * perRow;
            next.yMax += (at.y() - dragFrom_.y()) * perRow;
        }
        setViewQuietly(next);
        emit viewChanged();
    } else if (drag_ == Drag::Box) {
        dragTo_ = at;
    }
    if (area.contains(at)) {
        cursorX_ = at.x();
        emit cursorMoved(nearestSample(timeOfX(at.x())));
    } else if (cursorX_) {
        cursorX_.reset();
        emit cursorMoved(std::nullopt);
    }
    update();
}

void RecordingView::mouseReleaseEvent(QMouseEvent* event) {
    const Drag drag = std::exchange(drag_, Drag::None);
    const QPoint at = event->position().toPoint();
    if (drag == Drag::Pan && at != dragFrom_) {
        history_.push_back(dragStartView_);
        if (history_.size() > kHistoryLimit)
            history_.erase(history_.begin());
        emit viewChanged();  // undo is possible now
    } else if (drag == Drag::Box) {
        const QRect box = QRect(dragFrom_, at).normalized();
        if (box.width() > 4 && box.height() > 4) {
            const QRect area = plotArea();
            View next;
            next.startMs = timeOfX(box.left());
            next.endMs = timeOfX(box.right());
            next.yFixed = true;
            next.yMax = yMin_ + (area.bottom() - box.top()) / double(area.height() - 1) * (yMax_ - yMin_);
            next.yMin = yMin_ + (area.bottom() - box.bottom()) / double(area.height() - 1) * (yMax_ - yMin_);
            showView(next);
        }
    }
    update();
}

void RecordingView::leaveEvent(QEvent*) {
    if (cursorX_) {
        cursorX_.reset();
        emit cursorMoved(std::nullopt);
        update();
    }
}

}  // namespace tarvelo::gui
