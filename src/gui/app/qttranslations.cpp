#include "app/qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tarvelo::gui {

QtTranslations::QtTranslations() = default;

QtTranslations::~QtTranslations() {
    if (translator_ && QCoreApplication::instance())
        QCoreApplication::removeTranslator(translator_.get());
}

bool QtTranslations::apply(int language) {
    static const char* const kCodes[] = {"de", "en", "fr", "it"};
    if (language < 0 || language > 3 || !QCoreApplication::instance())
        return false;
    auto next = std::make_unique<QTranslator>();
    const bool loaded = next->load(QStringLiteral("qtbase_") + QLatin1String(kCodes[language]),
                                   QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (translator_)
        QCoreApplication::removeTranslator(translator_.get());
    translator_.reset();
    if (!loaded)
        return false;
    translator_ = std::move(next);
    QCoreApplication::installTranslator(translator_.get());
    return true;
}

}  // namespace tarvelo::gui
