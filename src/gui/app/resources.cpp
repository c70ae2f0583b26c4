#include "app/resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the initialiser in the enclosing namespace, so it
// must be used outside ours.
static void initCompiledResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tarvelo::gui {

void initResources() {
    static const bool done = (initCompiledResources(), true);
    (void)done;
}

}  // namespace tarvelo::gui
