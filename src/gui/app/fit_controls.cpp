#include "app/fit_controls.h"

#include <algorithm>
#include <map>
#include <vector>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
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

// The width at which a line edit shows its whole text without scrolling:
// the text and the cursor, the edit's inner and text
// margins and what the style's frame takes from the edit's own rectangle,
// as the edit lays its text out when it paints.
int editWidth(const QLineEdit& edit) {
    constexpr int kInnerMargin = 2;  // the edit's fixed margin, each side of the text
    const QMargins margins = edit.textMargins();
    const int text = edit.fontMetrics().horizontalAdvance(edit.text()) + 1;
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.rect = edit.rect();
    option.lineWidth = edit.hasFrame()
                           ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit)
                           : 0;
    const QRect contents =
        edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
    return text + 2 * kInnerMargin + margins.left() + margins.right() + edit.width() -
           contents.width();
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
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return editWidth(*edit);
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
