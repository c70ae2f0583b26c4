#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace tarvelo::gui {

// The manual's section (the anchor in its page) that describes one of the
// program's windows, found by the window's object name; the empty text (the
// top of the page) for a window the manual has no section for.
QString helpSection(const QWidget* window);

// Lets F1 in `window` call `open` with the window. For the dialogs that do
// not share the main window's menu keys: a modal one blocks them.
void addHelpKey(QWidget& window, std::function<void(const QWidget*)> open);

}  // namespace tarvelo::gui
