#pragma once

class QMenuBar;
class QWidget;

namespace tarvelo::gui {

// Lets the keyboard shortcuts of every item in `bar`'s menus (and their
// submenus) work while `window` is the active window too, as they do in the
// menu bar's own window. The items themselves are shared, not copied: a
// disabled item stays disabled everywhere, and a window blocked by a modal
// dialog gets no shortcut. Items added to the menus later are not included.
void shareMenuShortcuts(const QMenuBar& bar, QWidget& window);

}  // namespace tarvelo::gui
