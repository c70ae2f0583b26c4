#pragma once

#include <chrono>

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include "app/dialogs.h"
#include "app/process_values.h"
#include "app/program.h"
#include "sim/instrument.h"

namespace tarvelo::guitest {

// Answers the program's message boxes and file dialogs and records them.
class RecordingDialogs : public gui::Dialogs {
public:
    struct Message {
        QString text;
        QString caption;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    QMessageBox::StandardButton message(QWidget* owner, const QString& text, const QString& caption,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons) override;
    QString saveFileName(QWidget* owner, const gui::FileRequest& request) override;
    QString openFileName(QWidget* owner, const gui::FileRequest& request) override;
    // The next answer, its files one per line.
    QStringList openFileNames(QWidget* owner, const gui::FileRequest& request) override;
    bool openUrl(const QUrl& url) override {
        urls.append(url);
        return openUrlResult;
    }

    QList<Message> messages;
    // Answers given in turn; when none is left, `defaultAnswer`.
    QList<QMessageBox::StandardButton> answers;
    QMessageBox::StandardButton defaultAnswer = QMessageBox::Ok;
    QList<gui::FileRequest> fileRequests;
    // In turn; empty text (cancel) when none is left. A save dialog goes on
    // to the next answer after one its request refuses.
    QStringList fileAnswers;
    QList<QUrl> urls;
    bool openUrlResult = true;  // whether an application "could be started"
};

// A wait on an event that has not come after this has hung: far above what
// any machine, however busy or slowed by a sanitizer, needs.
inline constexpr std::chrono::milliseconds kHungMs{30000};
// A time-out that must not be what ends a wait under test: only the event
// under test can end the wait before kHungMs.
inline constexpr std::chrono::milliseconds kNotReachedMs = 3 * kHungMs;

// Sets the default regional format for as long as it lives (or until
// restore()), and puts the one before back whatever happens to the test.
class ScopedFormat {
public:
    explicit ScopedFormat(const QLocale& format) { QLocale::setDefault(format); }
    ~ScopedFormat() { restore(); }
    ScopedFormat(const ScopedFormat&) = delete;
    ScopedFormat& operator=(const ScopedFormat&) = delete;
    void restore() { QLocale::setDefault(before_); }

private:
    QLocale before_;
};

// One program run in a temporary program folder against a simulated
// instrument on 127.0.0.1. The settings file always points at 127.0.0.1:
// no test ever reaches the program's default instrument address.
class Rig {
public:
    // `listening` false: no instrument; the settings name a port that refuses
    // connects (bound by the rig, never listening).
    explicit Rig(bool listening = true, sim::InstrumentConfig config = {});
    ~Rig();

    QString folder() const { return dir_.path(); }
    QString settingsPath() const { return dir_.filePath(QStringLiteral("473config.ini")); }
    uint16_t port() const { return port_; }

    // Writes "[Config]" with IP-Server=127.0.0.1, Port=<port> and the given
    // further lines (CRLF-separated in the file).
    void writeSettings(const QStringList& extraLines = {});
    QByteArray readSettings() const;

    // Creates the program's windows and shows the main window. Refuses
    // (aborts the test program) unless the settings file points at 127.0.0.1.
    gui::ThauptFenster& start();
    // Waits without processing events until the probe has found the
    // instrument: the start-up timer has not seen it yet.
    bool waitDeviceReadyBlocking(int timeoutMs = 30000);
    bool waitForState(gui::ThauptFenster::StartupState state, int timeoutMs = 30000);
    // start() and wait until Ready.
    gui::ThauptFenster& startReady();

    gui::ThauptFenster& window() { return *windows.hauptFenster; }

    std::unique_ptr<sim::Instrument> instrument;
    app::ProcessValues values;
    RecordingDialogs dialogs;
    gui::ProgramWindows windows;

private:
    QTemporaryDir dir_;
    uint16_t port_ = 0;
    // Without an instrument: the bound, never listening socket of port_.
    int refusingFd_ = -1;
};

// Waits, with the event loop running, until no batch readout runs.
bool waitForBatch(gui::ThauptFenster& window, int timeoutMs = 30000);

// The text of one cell of the main window's list.
QString cellText(gui::ThauptFenster& window, int row, int column);
QString headerText(gui::ThauptFenster& window, int column);

}  // namespace tarvelo::guitest
