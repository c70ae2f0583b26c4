#include "app/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QProcess>

#include "app/shown_text.h"

namespace tarvelo::gui {

namespace {

// The suffixes of a name filter's patterns: "SVG drawing (*.svg)" gives
// {"svg"}; "*" and patterns without a plain suffix give nothing.
QStringList filterSuffixes(const QString& filter) {
    QStringList suffixes;
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
    const QString patterns =
        open >= 0 && close > open ? filter.mid(open + 1, close - open - 1) : filter;
    for (const QString& pattern : patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (pattern.startsWith(QLatin1String("*.")) && pattern.size() > 2 &&
            !pattern.mid(2).contains(QLatin1Char('*')))
            suffixes << pattern.mid(2);
    }
    return suffixes;
}

// The saved name: one that ends in a suffix of any of the offered filters
// ("x.svg" typed while "PNG image (*.png)" is chosen) keeps it, as the
// operator asked for that format; any other gets the chosen filter's.
QString withFilterSuffix(const QString& path, const QString& filter, const QString& offered) {
    const QStringList suffixes = filterSuffixes(filter);
    if (suffixes.isEmpty())
        return path;
    for (const QString& one : offered.split(QStringLiteral(";;"), Qt::SkipEmptyParts)) {
        for (const QString& suffix : filterSuffixes(one)) {
            if (path.endsWith(QLatin1Char('.') + suffix, Qt::CaseInsensitive))
                return path;
        }
    }
    return path + QLatin1Char('.') + suffixes.front();
}

// A file dialog that asks the request whether a chosen path will do before
// it closes, and stays open with a message when not.
class CheckedFileDialog : public QFileDialog {
public:
    CheckedFileDialog(QWidget* owner, const FileRequest& request, Dialogs& dialogs)
        : QFileDialog(owner, request.title, request.folder, request.filter),
          request_(request),
          dialogs_(dialogs) {}

    void accept() override {
        if (request_.refusal && acceptMode() == AcceptSave) {
            QString path = selectedFiles().value(0);
            if (request_.suffixFromFilter && !path.isEmpty())
                path = withFilterSuffix(path, selectedNameFilter(), request_.filter);
            const QString refused = path.isEmpty() ? QString() : request_.refusal(path);
            if (!refused.isEmpty()) {
                dialogs_.message(this, refused, request_.refusalCaption, QMessageBox::Critical,
                                 QMessageBox::Ok);
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    const FileRequest& request_;
    Dialogs& dialogs_;
};

QStringList runFileDialog(QWidget* owner, const FileRequest& request, QFileDialog::AcceptMode mode,
                          Dialogs& dialogs, bool several = false) {
    CheckedFileDialog dialog(owner, request, dialogs);
    dialog.setAcceptMode(mode);
    // Set after the mode, which puts the toolkit's title in place of an empty one.
    if (request.emptyTitleStays || !request.title.isEmpty())
        dialog.setWindowTitle(request.title);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                       : several                       ? QFileDialog::ExistingFiles
                                                       : QFileDialog::ExistingFile);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.confirmOverwrite)
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (request.suffixFromFilter) {
        auto follow = [&dialog](const QString& filter) {
            const QStringList suffixes = filterSuffixes(filter);
            if (!suffixes.isEmpty())
                dialog.setDefaultSuffix(suffixes.front());
        };
        follow(dialog.selectedNameFilter());
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    if (several)
        return dialog.selectedFiles();
    const QString path = dialog.selectedFiles().value(0);
    if (request.suffixFromFilter && !path.isEmpty())
        return {withFilterSuffix(path, dialog.selectedNameFilter(), request.filter)};
    return {path};
}

// Whether the desktop names an application for files of this one's kind. The
// desktop's launcher starts for any file and so reports success even when
// nothing then opens it; its table of default applications tells. Without
// that table (no xdg-mime) the launch itself decides.
bool desktopHasApplicationFor(const QString& path) {
    const QString type = QMimeDatabase().mimeTypeForFile(path).name();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForStarted(5000))
        return true;
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished();
        return true;
    }
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

QMessageBox::StandardButton StandardDialogs::message(QWidget* owner, const QString& text,
                                                     const QString& caption, QMessageBox::Icon icon,
                                                     QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons, owner);
    // The texts come from the instrument and the text table: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return box.standardButton(box.clickedButton());
}

QString StandardDialogs::saveFileName(QWidget* owner, const FileRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptSave, *this).value(0);
}

QString StandardDialogs::openFileName(QWidget* owner, const FileRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptOpen, *this).value(0);
}

QStringList StandardDialogs::openFileNames(QWidget* owner, const FileRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptOpen, *this, true);
}

bool StandardDialogs::openUrl(const QUrl& url) {
    if (url.isLocalFile() && !desktopHasApplicationFor(url.toLocalFile()))
        return false;
    return QDesktopServices::openUrl(url);
}

void refuseMissingFolder(FileRequest& request, int language, const QString& caption) {
    request.refusal = [language](const QString& path) { return missingFolderText(path, language); };
    request.refusalCaption = caption;
}

}  // namespace tarvelo::gui
