#pragma once

#include <QList>
#include <QPointer>

QT_BEGIN_NAMESPACE
class QChart;
class QValueAxis;
QT_END_NAMESPACE

namespace tarvelo::gui {

// The view a chart had before its first zoom or pan, so that "undo zoom"
// returns there at once, however many zooms and pans followed. The owner
// forgets it whenever a new view starts (a new showing of the window, typed
// limits, automatic scaling ticked).
class ZoomHistory {
public:
    explicit ZoomHistory(QChart* chart) : chart_(chart) {}

    // Keeps the ranges of the chart's value axes, unless a view is kept
    // already (only the view before the first change counts).
    void remember();
    // Puts the kept ranges back and forgets them. False when none was kept.
    bool restore();
    void forget() { ranges_.clear(); }
    bool empty() const { return ranges_.isEmpty(); }

private:
    struct Range {
        QPointer<QValueAxis> axis;
        double min = 0.0;
        double max = 0.0;
    };
    QChart* chart_;
    QList<Range> ranges_;
};

}  // namespace tarvelo::gui
