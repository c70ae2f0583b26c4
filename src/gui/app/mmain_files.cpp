// The main window's file operations: saving and loading the sample file,
// the three export targets, and the two readouts of the instrument's batch
// memory.

#include "app/mmain.h"

#include <cerrno>
#include <string>

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include "acquisition/batch_readout.h"
#include "acquisition/batch_worker.h"
#include "acquisition/mgauge.h"
#include "acquisition/samplelistmodel.h"
#include "analysis/mrecording.h"
#include "app/dialogs.h"
#include "app/helpkey.h"
#include "app/process_values.h"
#include "app/program_text.h"
#include "app/shown_text.h"
#include "device/replies.h"
#include "files/export_text.h"
#include "files/mexport.h"
#include "files/sample_file.h"
#include "files/workbook.h"

namespace tarvelo::gui {

namespace {

using app::MenuItem;
using Button = ThauptFenster::Button;

// UiText entries used here.
constexpr int kSaveTitleText = 25;        // "Save data as..."
constexpr int kLoadTitleText = 26;        // "Load data..."
constexpr int kDeleteQuestionText = 27;   // "Should the measured value memory be deleted?"
constexpr int kQuestionCaptionText = 28;  // "Question?"
constexpr int kExportCaptionText = 29;    // "Export data"
constexpr int kErrorCaptionText = 34;     // "Error"
constexpr int kBatchTitleText = 52;       // "Export batch memory"

// The sample file's dialogs show and accept ".dat" in either case, as the
// file names of the program's earlier versions were.
const char* const kSampleFileFilter = "Data files (*.dat *.DAT)";
const char* const kExportFileFilter = "ASCII-Datei (*.asc)";
const char* const kBatchFileFilter = "Batch files (*.txt)";
const char* const kWorkbookFilter = "Workbooks (*.xlsx)";

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// What a batch readout shows, in this window and its progress window. Called
// on the user-interface thread (the readout's thread posts to it).
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
            gauge_->start(maximum, window_.values().settings.language.load());
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

void ThauptFenster::showTranslatedError(const QString& text) {
    dialogs_.message(this, text, fromUtf8(values_.uiText[kErrorCaptionText]), QMessageBox::Critical,
                     QMessageBox::Ok);
}

// --- sample file -----------------------------------------------------------

void ThauptFenster::SaveToFileClick() {
    FileRequest request;
    request.title = fromUtf8(values_.uiText[kSaveTitleText]);
    request.emptyTitleStays = true;
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kSampleFileFilter);
    request.defaultSuffix = QStringLiteral("dat");
    request.confirmOverwrite = true;
    const QString path = askSavePath(request);
    if (path.isEmpty())
        return;

    // Written to a temporary file and renamed over the target: a save that
    // fails leaves an existing file as it was.
    std::string error;
    if (!files::saveSampleFile(localPath(path), values_.memory, &error)) {
        const int reason = errno;
        showFileError(failureText(app::ProgramText::SaveFailed, values_.settings.language.load(),
                                  path, reason, error));
    }
}

void ThauptFenster::OpenRecordingClick() {
    const int language = values_.settings.language.load();
    FileRequest request;
    request.title = shownText(app::ProgramText::OpenRecordingTitle, language);
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = shownText(app::ProgramText::RecordingFilter, language);
    // Several files are the parts of one split run.
    const QStringList paths = dialogs_.openFileNames(this, request);
    if (!paths.isEmpty())
        openRecording(paths);
}

TrecordingWindow* ThauptFenster::openRecording(const QString& path) {
    return openRecording(QStringList{path});
}

TrecordingWindow* ThauptFenster::openRecording(const QStringList& paths) {
    auto* window = new TrecordingWindow(values_, dialogs_, this);
    window->setMemoryTaker([this](const std::vector<acquisition::SampleRow>& rows, QWidget* asker) {
        if (!memoryWritable())
            return TrecordingWindow::Take::Busy;
        return replaceMemory(rows, asker) ? TrecordingWindow::Take::Taken
                                          : TrecordingWindow::Take::Declined;
    });
    addHelpKey(*window, [this](const QWidget* from) { showHelp(from); });
    window->open(paths);
    return window;
}

void ThauptFenster::LoadFromFileClick() {
    FileRequest request;
    request.title = fromUtf8(values_.uiText[kLoadTitleText]);
    request.emptyTitleStays = true;
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
                                  path, loaded.errorNumber, loaded.detail));
        return;
    }

    replaceMemory(loaded.rows, this);
}

bool ThauptFenster::memoryWritable() const {
    // Load is disabled exactly while another writer (the sampling thread, a
    // batch readout) owns the memory.
    return action(MenuItem::LoadFromFile)->isEnabled();
}

bool ThauptFenster::replaceMemory(const std::vector<acquisition::SampleRow>& rows,
                                  QWidget* asker) {
    // ClearMemory: a memory holding samples is replaced only after a Yes.
    // An empty memory is not cleared, so its controls keep their state.
    if (values_.memory.RowCount() != 0) {
        const auto answer =
            dialogs_.message(asker, fromUtf8(values_.uiText[kDeleteQuestionText]),
                             fromUtf8(values_.uiText[kQuestionCaptionText]), QMessageBox::Question,
                             QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return false;
        setSaveExportEnabled(false);
    }
    values_.memory.clear();
    model_->clear();

    values_.memory.load(rows);
    model_->refill(values_.memory);
    if (values_.memory.WritePosition() != 0)
        setSaveExportEnabled(true);
    return true;
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
    const QString path = askSavePath(request);
    if (path.isEmpty())
        return;
    const std::string text =
        files::exportText(values_.memory, list_, SampleListModel::decimalSeparator());
    std::string error;
    if (!files::saveExportFile(localPath(path), text, &error)) {
        const int reason = errno;
        showFileError(failureText(app::ProgramText::WriteFailed, values_.settings.language.load(),
                                  path, reason, error));
    }
}

void ThauptFenster::exportToWorkbook() {
    // The operator says where the workbook is kept before it is written and
    // handed to the desktop's spreadsheet application, so what that
    // application saves lands where the operator chose.
    const int language = values_.settings.language.load();
    FileRequest request;
    request.title = shownText(app::ProgramText::WorkbookSaveTitle, language);
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kWorkbookFilter);
    request.defaultSuffix = QStringLiteral("xlsx");
    request.confirmOverwrite = true;
    const QString path = askSavePath(request);
    if (path.isEmpty())
        return;

    std::string error;
    if (!files::writeWorkbook(localPath(path), list_, &error)) {
        const int reason = errno;
        showFileError(failureText(app::ProgramText::WriteFailed, language, path, reason, error));
        return;
    }
    if (!dialogs_.openUrl(QUrl::fromLocalFile(path))) {
        dialogs_.message(this,
                         shownText(app::ProgramText::WorkbookNoApplication, language)
                             .arg(QDir::toNativeSeparators(path)),
                         fromUtf8(values_.uiText[kExportCaptionText]), QMessageBox::Information,
                         QMessageBox::Ok);
    }
}

// --- batch readout -----------------------------------------------------------

QString ThauptFenster::askSavePath(FileRequest request) {
    // A folder that does not exist is refused by the dialog itself, which
    // stays open for another choice, before a readout of hours or any write
    // begins.
    refuseMissingFolder(request, values_.settings.language.load(),
                        fromUtf8(values_.uiText[kErrorCaptionText]));
    return dialogs_.saveFileName(this, request);
}

void ThauptFenster::setBatchGauge(Tform_gauge* gauge) {
    gauge_ = gauge;
    if (gauge_)
        connect(gauge_, &Tform_gauge::cancelRequested, this, [this] {
            if (batch_)
                batch_->cancel();
            gauge_->cancelButton()->setEnabled(false);
        });
}

bool ThauptFenster::batchRunning() const {
    return batch_ && batch_->running();
}

void ThauptFenster::setBatchControlsEnabled(bool enabled) {
    if (!enabled) {
        // Everything that talks to the instrument or writes the memory.
        batchWidgets_.clear();
        batchActions_.clear();
        for (Button b : {Button::SingleShoot, Button::ClearList, Button::StartStopTransfer,
                         Button::LoadFromFile}) {
            if (button(b)->isEnabled())
                batchWidgets_.emplace_back(button(b));
        }
        for (MenuItem item :
             {MenuItem::GetActualSample, MenuItem::StartStopSampling, MenuItem::DeleteSampleData,
              MenuItem::LoadFromFile, MenuItem::BatchToList, MenuItem::BatchToFile}) {
            if (action(item)->isEnabled())
                batchActions_.emplace_back(action(item));
        }
    }
    for (const auto& widget : batchWidgets_)
        if (widget)
            widget->setEnabled(enabled);
    for (const auto& item : batchActions_)
        if (item)
            item->setEnabled(enabled);
}

void ThauptFenster::runBatch(std::function<void(device::DeviceLink&, acquisition::BatchUi&)> job,
                             std::function<void()> done) {
    batchUi_ = std::make_unique<WindowBatchUi>(*this, gauge_);
    batch_ = std::make_unique<BatchWorker>(values_.settings, values_.socketTimeoutMs,
                                           link_.timing(), *batchUi_, *this);
    setBatchControlsEnabled(false);
    batch_->start(std::move(job), [this, done = std::move(done)] {
        if (gauge_)
            gauge_->finish();
        setBatchControlsEnabled(true);
        done();
    });
}

void ThauptFenster::Batchlesen1Click() {
    if (batchRunning())
        return;
    auto summary = std::make_shared<acquisition::BatchSummary>();
    runBatch(
        [this, summary](device::DeviceLink& link, acquisition::BatchUi& ui) {
            acquisition::batchToMemory(link, values_.memory, ui, summary.get());
        },
        [this, summary] {
            // A readout whose count was read enables Save and Export, even
            // when it appended nothing; one that was cut short, when it
            // appended a row.
            if (summary->read > 0 || summary->end == acquisition::BatchEnd::Complete)
                setSaveExportEnabled(true);
            if (summary->end == acquisition::BatchEnd::Lost)
                showTranslatedError(shownText(app::ProgramText::BatchLostToList, values_.settings.language.load())
                                        .arg(summary->read)
                                        .arg(summary->records));
        });
}

void ThauptFenster::Batchtofile1Click() {
    if (batchRunning())
        return;
    FileRequest request;
    // Empty where the language has no text for it (French, Italian).
    request.title = fromUtf8(values_.uiText[kBatchTitleText]);
    request.emptyTitleStays = true;
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = QLatin1String(kBatchFileFilter);
    request.defaultSuffix = QStringLiteral("txt");
    request.confirmOverwrite = true;
    const QString path = askSavePath(request);
    if (path.isEmpty())
        return;

    // The records go to the file only; the memory is left alone. A readout
    // that ends early (instrument lost, Cancel) writes the records read whole
    // and says how many of all it holds.
    struct Outcome {
        acquisition::BatchSummary summary;
        acquisition::BatchFileResult result = acquisition::BatchFileResult::NoConnection;
        std::string error;
        int errorNumber = 0;
    };
    auto outcome = std::make_shared<Outcome>();
    runBatch(
        [outcome, target = localPath(path)](device::DeviceLink& link, acquisition::BatchUi& ui) {
            outcome->result =
                acquisition::batchToFile(link, target, ui, &outcome->error, &outcome->summary,
                                         acquisition::EarlyEnd::WriteRecordsRead);
            outcome->errorNumber = errno;
        },
        [this, outcome, path] {
            const int language = values_.settings.language.load();
            if (outcome->result == acquisition::BatchFileResult::WriteFailed) {
                showFileError(failureText(app::ProgramText::WriteFailed, language, path,
                                          outcome->errorNumber, outcome->error));
                return;
            }
            if (outcome->result != acquisition::BatchFileResult::PartWritten)
                return;
            const auto text = outcome->summary.end == acquisition::BatchEnd::Cancelled
                                  ? app::ProgramText::BatchCancelledToFile
                                  : app::ProgramText::BatchLostToFile;
            showTranslatedError(shownText(text, language)
                                    .arg(outcome->summary.read)
                                    .arg(outcome->summary.records)
                                    .arg(QDir::toNativeSeparators(path)));
        });
}

}  // namespace tarvelo::gui
