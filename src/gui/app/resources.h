#pragma once

namespace tarvelo::gui {

// Registers the compiled-in pictures. The windows live in a static library,
// whose resource initialiser the linker would otherwise drop; every window
// that shows a picture calls this first (repeated calls are harmless).
void initResources();

}  // namespace tarvelo::gui
