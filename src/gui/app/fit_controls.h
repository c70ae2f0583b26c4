#pragma once

class QWidget;

namespace tarvelo::gui {

// Lays out controls that sit at fixed places (their first geometry, kept on
// the first call) so that every text shows whole in any language:
// - a label or button whose text needs more room than it was given grows to
//   its size hint, a line edit to the width that shows its whole text (never
//   shrinks below the size it was given);
// - a control to the right of a grown one on the same line moves right just
//   as far as it must to keep a small gap (or its own smaller gap);
// - controls that started in one column move together, so columns stay
//   aligned.
// Hidden controls take part with their places but do not push others.
// Runs again from the first places on every call (after a language change).
// Returns the rightmost edge the visible controls now reach.
int fitControls(QWidget& container);

}  // namespace tarvelo::gui

namespace tarvelo::gui {

// Widens a fixed-size window whose visible controls reach closer than
// `margin` to its right edge; it never becomes narrower than `minWidth`.
void growToFit(QWidget& window, int minWidth, int margin);

}  // namespace tarvelo::gui
