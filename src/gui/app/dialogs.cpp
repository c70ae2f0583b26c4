#include "app/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QProcess>

namespace tarvelo::gui {

namespace {

QString runFileDialog(QWidget* owner, const FileRequest& request, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner, request.title, request.folder, request.filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.confirmOverwrite)
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
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
    return runFileDialog(owner, request, QFileDialog::AcceptSave);
}

QString StandardDialogs::openFileName(QWidget* owner, const FileRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptOpen);
}

bool StandardDialogs::openUrl(const QUrl& url) {
    if (url.isLocalFile() && !desktopHasApplicationFor(url.toLocalFile()))
        return false;
    return QDesktopServices::openUrl(url);
}

}  // namespace tarvelo::gui
