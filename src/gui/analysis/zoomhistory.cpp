#include "analysis/zoomhistory.h"

#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

namespace tarvelo::gui {

void ZoomHistory::remember() {
    if (!ranges_.isEmpty())
        return;
    for (QAbstractAxis* axis : chart_->axes()) {
        if (auto* value = qobject_cast<QValueAxis*>(axis))
            ranges_.append({value, value->min(), value->max()});
    }
}

bool ZoomHistory::restore() {
    if (ranges_.isEmpty())
        return false;
    for (const Range& range : ranges_) {
        if (range.axis)
            range.axis->setRange(range.min, range.max);
    }
    ranges_.clear();
    return true;
}

}  // namespace tarvelo::gui
