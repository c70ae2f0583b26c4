#include "app/fit_controls.h"

#include <algorithm>
#include <map>
#include <vector>

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QRect>
#include <QVariant>
#include <QWidget>

namespace tarvelo::gui {

namespace {

constexpr int kMinGap = 6;
const char* const kOriginProperty = "fitOrigin";

struct Control {
    QWidget* widget = nullptr;
    QRect origin;
    QRect placed;
};

bool carriesText(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return !label->wordWrap() && label->pixmap().isNull();
    return qobject_cast<const QAbstractButton*>(widget) != nullptr;
}

// The width a control's text needs; 0 for controls without text. A push
// button's style minimum (80 pixels in most styles) is not a need of its text.
int neededWidth(const QWidget* widget) {
    if (const auto* push = qobject_cast<const QPushButton*>(widget)) {
        QString text = push->text();
        text.remove(QLatin1Char('&'));
        return push->fontMetrics().horizontalAdvance(text) +
               2 * push->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push);
    }
    return carriesText(widget) ? widget->sizeHint().width() : 0;
}

bool sameLine(const QRect& a, const QRect& b) {
    return a.top() <= b.bottom() && b.top() <= a.bottom();
}

}  // namespace

int fitControls(QWidget& container) {
    std::vector<Control> controls;
    for (QWidget* child : container.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow())
            continue;
        QVariant origin = child->property(kOriginProperty);
        if (!origin.isValid()) {
            origin = child->geometry();
            child->setProperty(kOriginProperty, origin);
        }
        controls.push_back({child, origin.toRect(), origin.toRect()});
    }
    // Columns: controls that started at the same left edge, left to right.
    std::map<int, std::vector<Control*>> columns;
    for (Control& c : controls)
        columns[c.origin.left()].push_back(&c);

    std::vector<const Control*> done;
    int rightmost = 0;
    for (auto& [left, members] : columns) {
        int x = left;
        for (Control* c : members) {
            QSize size = c->origin.size();
            size.setWidth(std::max(size.width(), neededWidth(c->widget)));
            c->placed.setSize(size);
            for (const Control* before : done) {
                if (before->widget->isHidden() || before->origin.right() >= left ||
                    !sameLine(before->origin, c->origin))
                    continue;
                const int gap = std::min(kMinGap, left - before->origin.right() - 1);
                x = std::max(x, before->placed.right() + 1 + gap);
            }
        }
        for (Control* c : members) {
            c->placed.moveLeft(x);
            if (c->widget->geometry() != c->placed)
                c->widget->setGeometry(c->placed);
            if (!c->widget->isHidden())
                rightmost = std::max(rightmost, c->placed.right() + 1);
            done.push_back(c);
        }
    }
    return rightmost;
}

}  // namespace tarvelo::gui

namespace tarvelo::gui {

void growToFit(QWidget& window, int minWidth, int margin) {
    int right = 0;
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && !child->isHidden())
            right = std::max(right, child->geometry().right() + 1);
    }
    const int width = std::max(minWidth, right + margin);
    if (width != window.width())
        window.setFixedWidth(width);
}

}  // namespace tarvelo::gui
