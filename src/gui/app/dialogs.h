#pragma once

#include <functional>

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace tarvelo::gui {

// What a file dialog asks for. `filter` uses Qt's name filter form, several
// filters separated by ";;" ("Sample files (*.dat);;All files (*)").
struct FileRequest {
    // An empty title gives the toolkit's own ("Save As"), unless
    // `emptyTitleStays`: a title from the text table that a language leaves
    // empty is shown empty.
    QString title;
    bool emptyTitleStays = false;
    QString folder;
    QString filter;
    QString defaultSuffix;         // without the dot; appended when the name has none
    QString fileName;              // proposed name, may be empty
    bool confirmOverwrite = true;  // save only: ask before replacing a file
    // Save only: the chosen filter decides the suffix. A name without one of
    // its patterns' suffixes gets the first one ("graph" with "*.svg" chosen
    // becomes "graph.svg"), so the name tells the caller the chosen format;
    // a name typed with the suffix of another offered filter keeps it.
    bool suffixFromFilter = false;
    // Save only: a chosen path that this gives a text for is refused; the
    // dialog shows the text in a message box (stop icon, `refusalCaption`)
    // and stays open for another choice.
    std::function<QString(const QString& path)> refusal;
    QString refusalCaption;
};

// Makes a save dialog refuse a path in a folder that does not exist, with the
// program's text in `language`; the dialog stays open for another choice.
void refuseMissingFolder(FileRequest& request, int language, const QString& caption);

// The modal message boxes, the file dialogs and the desktop's "open" action
// go through this seam, so that tests can answer them and check what was
// asked. The windows never call QMessageBox or QFileDialog directly.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal message box; returns the button pressed (QMessageBox::NoButton
    // when the box was closed otherwise).
    virtual QMessageBox::StandardButton message(QWidget* owner, const QString& text,
                                                const QString& caption, QMessageBox::Icon icon,
                                                QMessageBox::StandardButtons buttons) = 0;
    // The chosen file's path, or the empty text on cancel.
    virtual QString saveFileName(QWidget* owner, const FileRequest& request) = 0;
    virtual QString openFileName(QWidget* owner, const FileRequest& request) = 0;
    // An open dialog in which several files can be chosen; empty when cancelled.
    virtual QStringList openFileNames(QWidget* owner, const FileRequest& request) {
        const QString path = openFileName(owner, request);
        return path.isEmpty() ? QStringList() : QStringList{path};
    }
    // Hands a file, web address or mail address to the desktop's default
    // application. False when no application could be started, also when the
    // desktop has no application for a file of that kind; callers that have
    // nothing to say about that ignore the result.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The real thing: Qt's message box, file dialogs and desktop services.
class StandardDialogs : public Dialogs {
public:
    QMessageBox::StandardButton message(QWidget* owner, const QString& text, const QString& caption,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons) override;
    QString saveFileName(QWidget* owner, const FileRequest& request) override;
    QString openFileName(QWidget* owner, const FileRequest& request) override;
    QStringList openFileNames(QWidget* owner, const FileRequest& request) override;
    bool openUrl(const QUrl& url) override;
};

}  // namespace tarvelo::gui
