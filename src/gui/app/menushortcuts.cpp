#include "app/menushortcuts.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace tarvelo::gui {

namespace {

void shareFrom(const QList<QAction*>& actions, QWidget& window) {
    for (QAction* action : actions) {
        if (QMenu* menu = action->menu()) {
            shareFrom(menu->actions(), window);
            continue;
        }
        if (!action->isSeparator() && !action->shortcut().isEmpty())
            window.addAction(action);
    }
}

}  // namespace

void shareMenuShortcuts(const QMenuBar& bar, QWidget& window) {
    shareFrom(bar.actions(), window);
}

}  // namespace tarvelo::gui
