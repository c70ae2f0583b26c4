#include "app/helpkey.h"

#include <iterator>

#include <QShortcut>
#include <QWidget>

namespace tarvelo::gui {

namespace {

struct Section {
    const char* window;  // the window's object name
    const char* anchor;
};

// The line colours and the live values are described with the graph.
constexpr Section kSections[] = {
    {"hauptFenster", "main"},     {"InitConnection", "connecting"},
    {"form_gauge", "batch"},      {"FormExport", "export"},
    {"graphView", "graph"},       {"LineColor", "graph"},
    {"messwerte", "live"},        {"statWindow", "statistics"},
    {"config", "settings"},       {"RecordingWindow", "recordings"},
};

}  // namespace

QString helpSection(const QWidget* window) {
    if (!window)
        return {};
    const QString name = window->window()->objectName();
    for (const Section& section : kSections) {
        if (name == QLatin1String(section.window))
            return QLatin1String(section.anchor);
    }
    return {};
}

void addHelpKey(QWidget& window, std::function<void(const QWidget*)> open) {
    auto* key = new QShortcut(QKeySequence(Qt::Key_F1), &window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, &window,
                     [&window, open = std::move(open)] { open(&window); });
}

}  // namespace tarvelo::gui
