#include "app/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>

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
    return QDesktopServices::openUrl(url);
}

}  // namespace tarvelo::gui
