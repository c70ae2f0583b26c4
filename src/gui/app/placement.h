#pragma once

class QWidget;

namespace tarvelo::gui {

// Moves a top-level window so that its frame is centred on the available
// area of the primary screen (the window keeps its place without a screen).
void centreOnScreen(QWidget& window);

}  // namespace tarvelo::gui
