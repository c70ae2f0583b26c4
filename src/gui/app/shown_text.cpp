#include "app/shown_text.h"

#include <QDir>
#include <QFileInfo>

namespace tarvelo::gui {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString failureText(app::ProgramText what, int language, const QString& path, int errorNumber,
                    const std::string& detail) {
    const QString reason = errorNumber != 0
                               ? fromUtf8(app::systemErrorText(errorNumber, language))
                               : fromUtf8(detail);
    return shownText(what, language) + QLatin1Char('\n') + QDir::toNativeSeparators(path) +
           QStringLiteral(": ") + reason;
}

QString missingFolderText(const QString& path, int language) {
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir())
        return QString();
    return shownText(app::ProgramText::FolderMissing, language)
        .arg(QDir::toNativeSeparators(folder));
}

}  // namespace tarvelo::gui
