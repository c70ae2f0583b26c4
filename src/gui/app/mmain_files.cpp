// The main window's file operations: saving and loading the sample file,
// the three export targets, and the two readouts of the instrument's batch
// memory.

#include "app/mmain.h"

#include <string>

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryFile>
#include <QUrl>

#include "acquisition/batch_readout.h"
#include "acquisition/mgauge.h"
#include "acquisition/samplelistmodel.h"
#include "app/dialogs.h"
#include "app/process_values.h"
#include "app/shown_text.h"
#include "device/replies.h"
#include "files/export_text.h"
#include "files/mexport.h"
#include "files/sample_file.h"
#include "files/workbook.h"

namespace tarvelo::gui {

namespace {

// UiText entries used here.
constexpr int kSaveTitleText = 25;        // "Save data as..."
constexpr int kLoadTitleText = 26;        // "Load data..."
constexpr int kDeleteQuestionText = 27;   // "Should the measured value memory be deleted?"
constexpr int kQuestionCaptionText = 28;  // "Question?"
constexpr int kExportCaptionText = 29;    // "Export data"
constexpr int kBatchTitleText = 52;       // "Export batch memory"

// The sample file's dialogs show and accept ".dat" in either case, as the
// file names of the program's earlier versions were.
const char* const kSampleFileFilter = "Data files (*.dat *.DAT)";
const char* const kExportFileFilter = "ASCII-Datei (*.asc)";
const char* const kBatchFileFilter = "Batch files (*.txt)";

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A failure box's text: what failed in the chosen language, then the
// system's reason (file name and error).
QString failureText(app::ProgramText what, int language, const std::string& detail) {
    return shownText(what, language) + QLatin1Char('\n') + fromUtf8(detail);
}

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// What a batch readout shows, in this window and its progress window.
class WindowBatchUi : public acquisition::BatchUi {
public:
    WindowBatchUi(ThauptFenster& window, Tform_gauge* gauge) : window_(window), gauge_(gauge) {}

    void error(const char* text) override {
        window_.dialogs().message(&window_, QString::fromLatin1(text),
                                  QString::fromLatin1(device::kErrorCaption), QMessageBox::Critical,
                                  QMessageBox::Ok);
    }
    void progressStart(int maximum) override {
        if (gauge_)
            gauge_->start(maximum);
    }
    void progress(int position) override {
        if (gauge_)
            gauge_->setPosition(position);
    }
    void progressFinish() override {
        if (gauge_)
            gauge_->finish();
    }
    void rowAppended(const acquisition::SampleRow& row) override {
        window_.listModel()->addRow(row);
    }

private:
    ThauptFenster& window_;
    Tform_gauge* gauge_;
};

}  // namespace

void ThauptFenster::showFileError(const QString& text) {
    dialogs_.message(this, text, QString::fromLatin1(device::kErrorCaption), QMessageBox::Critical,
                     QMessageBox::Ok);
}

// --- sample file -----------------------------------------------------------

void ThauptFenster::SaveToFileClick() {
    FileRequest request;
    request.title = fromUtf8(values_.uiText[kSaveTitleText]);
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kSampleFileFilter);
    request.defaultSuffix = QStringLiteral("dat");
    request.confirmOverwrite = true;
    const QString path = dialogs_.saveFileName(this, request);
    if (path.isEmpty())
        return;

    // Written to a temporary file and renamed over the target: a save that
    // fails leaves an existing file as it was.
    std::string error;
    if (!files::saveSampleFile(localPath(path), values_.memory, &error))
        showFileError(
            failureText(app::ProgramText::SaveFailed, values_.settings.language.load(), error));
}

void ThauptFenster::LoadFromFileClick() {
    FileRequest request;
    request.title = fromUtf8(values_.uiText[kLoadTitleText]);
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kSampleFileFilter);
    request.defaultSuffix = QStringLiteral("dat");
    const QString path = dialogs_.openFileName(this, request);
    if (path.isEmpty())
        return;

    // The whole file is read and checked before anything changes, so a bad
    // file leaves the memory and the list as they were.
    const files::LoadResult loaded = files::loadSampleFile(localPath(path));
    if (loaded.error == files::LoadError::FormatError) {
        showFileError(fromUtf8(values_.uiText[files::kFileFormatErrorText]));
        return;
    }
    if (!loaded.ok()) {
        showFileError(failureText(app::ProgramText::LoadFailed, values_.settings.language.load(),
                                  loaded.detail));
        return;
    }

    // ClearMemory: a memory holding samples is replaced only after a Yes.
    if (values_.memory.RowCount() != 0) {
        const auto answer =
            dialogs_.message(this, fromUtf8(values_.uiText[kDeleteQuestionText]),
                             fromUtf8(values_.uiText[kQuestionCaptionText]), QMessageBox::Question,
                             QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    setSaveExportEnabled(false);
    values_.memory.clear();
    model_->clear();

    values_.memory.load(loaded.rows);
    model_->refill(values_.memory);
    if (values_.memory.WritePosition() != 0)
        setSaveExportEnabled(true);
}

// --- export ----------------------------------------------------------------

void ThauptFenster::ExportDataClick() {
    if (!formExport_ || formExport_->exec() != QDialog::Accepted)
        return;
    switch (formExport_->choice()) {
        case TFormExport::Choice::None:
            return;
        case TFormExport::Choice::Spreadsheet:
            exportToWorkbook();
            return;
        case TFormExport::Choice::Clipboard:
            QGuiApplication::clipboard()->setText(fromUtf8(
                files::exportText(values_.memory, list_, SampleListModel::decimalSeparator())));
            return;
        case TFormExport::Choice::File:
            exportToFile();
            return;
    }
}

void ThauptFenster::exportToFile() {
    FileRequest request;
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kExportFileFilter);
    request.defaultSuffix = QStringLiteral("asc");
    request.confirmOverwrite = false;
    const QString path = dialogs_.saveFileName(this, request);
    if (path.isEmpty())
        return;
    const std::string text =
        files::exportText(values_.memory, list_, SampleListModel::decimalSeparator());
    std::string error;
    if (!files::saveExportFile(localPath(path), text, &error))
        showFileError(
            failureText(app::ProgramText::WriteFailed, values_.settings.language.load(), error));
}

void ThauptFenster::exportToWorkbook() {
    // A new workbook in the user's temporary folder, handed to the desktop's
    // spreadsheet application; the file stays for that application to use.
    QTemporaryFile reserved(QDir(QDir::tempPath()).filePath(QStringLiteral("Tarvelo-XXXXXX.xlsx")));
    reserved.setAutoRemove(false);
    if (!reserved.open()) {
        showFileError(QStringLiteral("Cannot create a file in %1: %2")
                          .arg(QDir::tempPath(), reserved.errorString()));
        return;
    }
    const QString path = reserved.fileName();
    reserved.close();

    std::string error;
    if (!files::writeWorkbook(localPath(path), list_, &error)) {
        QFile::remove(path);
        showFileError(fromUtf8(error));
        return;
    }
    if (!dialogs_.openUrl(QUrl::fromLocalFile(path))) {
        dialogs_.message(this,
                         QStringLiteral("No spreadsheet application could be started. "
                                        "The workbook has been saved as\n%1")
                             .arg(QDir::toNativeSeparators(path)),
                         fromUtf8(values_.uiText[kExportCaptionText]), QMessageBox::Information,
                         QMessageBox::Ok);
    }
}

// --- batch readout -----------------------------------------------------------

void ThauptFenster::Batchlesen1Click() {
    WindowBatchUi ui(*this, nullptr);
    if (acquisition::batchToMemory(link_, values_.memory, ui))
        setSaveExportEnabled(true);
}

void ThauptFenster::Batchtofile1Click() {
    FileRequest request;
    request.title = fromUtf8(values_.uiText[kBatchTitleText]);
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kBatchFileFilter);
    request.defaultSuffix = QStringLiteral("txt");
    request.confirmOverwrite = true;
    const QString path = dialogs_.saveFileName(this, request);
    if (path.isEmpty())
        return;

    // The records go to the file only; the measurement memory is left alone.
    WindowBatchUi ui(*this, gauge_);
    std::string error;
    if (acquisition::batchToFile(link_, localPath(path), ui, &error) ==
        acquisition::BatchFileResult::WriteFailed)
        showFileError(
            failureText(app::ProgramText::WriteFailed, values_.settings.language.load(), error));
}

}  // namespace tarvelo::gui
