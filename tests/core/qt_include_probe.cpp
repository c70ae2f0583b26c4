// Compiled with the core's flags only. It must not build: the core has no Qt.
#include <QObject>
