// Recording in the main window: the Samples menu item switches it on (with a
// save dialog) and off; while it is on, the sampling thread hands every
// sample it stores to a RecordWriter, which appends it to the file in the
// export text format. A failed write ends the recording and says so; the
// sampling goes on.
#include "app/mmain.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include "acquisition/samplelistmodel.h"
#include "analysis/mgrafik.h"
#include "app/dialogs.h"
#include "app/process_values.h"
#include "app/shown_text.h"
#include "app/program_text.h"
#include "files/record_writer.h"

namespace tarvelo::gui {

namespace {

using app::MenuItem;

const char* const kRecordFileFilter = "ASCII-Datei (*.asc)";
constexpr int kRecordWatchMs = 250;


}  // namespace

void ThauptFenster::RecordToFileClick() {
    if (recorder_) {
        stopRecording(true);
        return;
    }
    // The item's tick follows the recording, not the click.
    action(MenuItem::RecordToFile)->setChecked(false);
    if (!check_)
        return;

    FileRequest request;
    request.title = shownText(app::ProgramText::RecordTitle, values_.settings.language.load());
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kRecordFileFilter);
    request.defaultSuffix = QStringLiteral("asc");
    request.confirmOverwrite = true;
    const QString path = askSavePath(request);
    if (path.isEmpty())
        return;

    auto writer = std::make_shared<files::RecordWriter>();
    std::string error;
    if (!writer->open(QFile::encodeName(path).toStdString(), files::exportHeaderBytes(list_),
                      files::exportLineFormatter(SampleListModel::decimalSeparator()), &error)) {
        showTranslatedError(
            shownText(app::ProgramText::RecordingFailed, values_.settings.language.load())
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(error.c_str())));
        return;
    }
    recorder_ = std::move(writer);
    recordPath_ = path;
    check_->setRecorder(recorder_);

    action(MenuItem::RecordToFile)->setChecked(true);
    showRecordingSign(true);
    setStatusText(shownText(app::ProgramText::RecordingStarted, values_.settings.language.load())
                      .arg(QDir::toNativeSeparators(path)));
    if (!recordTimer_) {
        recordTimer_ = new QTimer(this);
        recordTimer_->setInterval(kRecordWatchMs);
        connect(recordTimer_, &QTimer::timeout, this, &ThauptFenster::watchRecording);
    }
    recordTimer_->start();
}

void ThauptFenster::watchRecording() {
    if (recorder_ && recorder_->failed())
        stopRecording(true);
}

void ThauptFenster::stopRecording(bool report) {
    if (!recorder_)
        return;
    if (recordTimer_)
        recordTimer_->stop();
    // From here on the sampling thread hands nothing more to the writer,
    // which then writes what it holds and closes the file.
    if (check_)
        check_->setRecorder(nullptr);
    const std::shared_ptr<files::RecordWriter> writer = std::move(recorder_);
    recorder_.reset();
    std::string error;
    const bool ok = writer->close(&error);
    action(MenuItem::RecordToFile)->setChecked(false);
    showRecordingSign(false);
    if (!ok && report)
        showTranslatedError(
            shownText(app::ProgramText::RecordingFailed, values_.settings.language.load())
                .arg(QDir::toNativeSeparators(recordPath_), QString::fromLocal8Bit(error.c_str())));
}

void ThauptFenster::showRecordingSign(bool on) {
    // Beside the status text, so the sampling count does not hide it, and it
    // stays while the instrument is away.
    const QString sign =
        on ? shownText(app::ProgramText::RecordingOn, values_.settings.language.load()) : QString();
    recordingSign_->setText(sign);
    recordingSign_->setVisible(on);
    if (graph_)
        graph_->setRecordingSign(sign);
}

}  // namespace tarvelo::gui
