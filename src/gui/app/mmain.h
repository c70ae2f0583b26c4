#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include "acquisition/mthread.h"
#include "acquisition/sample_list.h"
#include "app/qttranslations.h"
#include "app/uitext.h"
#include "device/mtrans.h"

class QAction;
class QLabel;
class QTimer;
class QToolButton;
class QTreeView;

namespace tarvelo::app {
struct ProcessValues;
}
namespace tarvelo::acquisition {
class BatchUi;
}
namespace tarvelo::device {
class Livetest;
}
namespace tarvelo::files {
class RecordWriter;
}

namespace tarvelo::gui {

class Dialogs;
struct FileRequest;
class SampleListModel;
class Tabout;
class Tconfig;
class TInitConnection;
class TgraphView;
class TstatWindow;
class TrecordingWindow;
class TFormExport;
class Tform_gauge;
class BatchWorker;

// The main window: the sample list, the eight picture buttons, the menus,
// start-up (probe, first contact) and shutdown. It owns the user-interface
// thread's device connection and shows what that connection reports.
class ThauptFenster : public QMainWindow,
                      public device::LinkObserver,
                      public acquisition::SamplingObserver {
    Q_OBJECT
public:
    enum class Button {
        SingleShoot,
        ClearList,
        StartStopTransfer,
        ExportData,
        LoadFromFile,
        SaveToFile,
        Grafik,
        statistic,
    };
    static constexpr int kButtonCount = 8;

    enum class StartupState { Waiting, FirstContact, Ready, Offline };

    ThauptFenster(app::ProcessValues& values, Dialogs& dialogs, QWidget* parent = nullptr);
    ~ThauptFenster() override;

    // The other windows, created after this one (see createProgramWindows).
    void setAboutBox(Tabout* about) { about_ = about; }
    void setConfigDialog(Tconfig* config);
    void setInitConnection(TInitConnection* window) { initConnection_ = window; }
    void setGraphView(TgraphView* graph) { graph_ = graph; }
    void setStatWindow(TstatWindow* window) { statWindow_ = window; }
    // The graph window's ApplyLanguage, run when a language is picked in the
    // setup dialog.
    void setGraphApplyLanguage(std::function<void()> apply) {
        graphApplyLanguage_ = std::move(apply);
    }

    // LinkObserver: the status bar text and the send error box.
    void showStatus(int uiTextEntry) override;
    void showSendError() override;
    // The status bar's one text, replaced whole by each writer.
    void setStatusText(const QString& text);
    QString statusText() const;

    // Enabling of ExportData and SaveToFile with their File menu items
    // ("&Export data", "&Save to file...").
    void setSaveExportEnabled(bool enabled);

    app::ProcessValues& values() { return values_; }
    Dialogs& dialogs() { return dialogs_; }
    // Replaces the sample memory and the list by `rows` (at most 10240,
    // oldest first), as a load does: a memory holding samples is asked
    // about first, in a box owned by `asker`; false after any answer but
    // Yes, and nothing changed.
    bool replaceMemory(const std::vector<acquisition::SampleRow>& rows, QWidget* asker);
    // Whether no other writer (sampling, a batch readout) owns the memory now.
    bool memoryWritable() const;
    // Opens the recording at `path` in a new recording window (the file
    // named on the command line, or chosen in the menu) and returns it.
    TrecordingWindow* openRecording(const QString& path);
    // The parts of one split run, in any order, in one window.
    TrecordingWindow* openRecording(const QStringList& paths);
    QAction* openRecordingAction() const { return openRecording_; }
    device::DeviceLink& link() { return link_; }
    acquisition::SampleList& sampleList() { return list_; }
    SampleListModel* listModel() const { return model_; }
    QTreeView* listView() const { return listView1_; }
    QToolButton* button(Button which) const { return buttons_[static_cast<int>(which)]; }
    QLabel* buttonCaption(Button which) const { return captions_[static_cast<int>(which)]; }
    QAction* action(app::MenuItem item) const { return actions_[static_cast<int>(item)]; }
    QLabel* titleLabel() const { return label6_; }
    QLabel* registeredLabel() const { return label9_; }
    QTimer* timer1() const { return timer1_; }
    StartupState startupState() const { return state_; }

public slots:
    // Part of start-up: runs once, on the first showing.
    virtual void FormShow();
    // The start-up timer: disables the acquisition controls and makes the
    // first contact once the probe has found the instrument.
    virtual void Timer1Timer();
    virtual void ApplyLanguage();

    virtual void SingleShootClick();
    virtual void ClearListClick();
    virtual void StartStopTransferClick();
    virtual void ExportDataClick();
    virtual void LoadFromFileClick();
    // File -> "Open recording...": a recording of any length in a window of its own.
    void OpenRecordingClick();
    virtual void SaveToFileClick();
    virtual void GrafikClick();
    virtual void statisticClick();
    virtual void Batchlesen1Click();
    virtual void Batchtofile1Click();
    virtual void RecordToFileClick();
    virtual void Setup1Click();
    virtual void ProgrammEnde1Click();
    virtual void Hilfe1Click();
    virtual void N2Click();
    // Opens the manual of the current language at the section of `from`'s
    // window (F1 in a dialog, the Help item for the window in front).
    void showHelp(const QWidget* from);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenus();
    void createControls();
    void setAcquisitionControlsEnabled(bool enabled);
    void applyLanguageEverywhere();
    bool belongsToThisWindow(QObject* object) const;
    void shutdownWorkers();

    app::ProcessValues& values_;
    Dialogs& dialogs_;
    device::DeviceLink link_;
    acquisition::SampleList list_;
    SampleListModel* model_ = nullptr;
    QtTranslations qtTranslations_;
    std::unique_ptr<device::Livetest> livetest_;
    std::function<void()> graphApplyLanguage_;

    Tabout* about_ = nullptr;
    Tconfig* config_ = nullptr;
    TInitConnection* initConnection_ = nullptr;
    TgraphView* graph_ = nullptr;
    TstatWindow* statWindow_ = nullptr;

    QLabel* bannerSubtitle_ = nullptr;
    QLabel* image1_ = nullptr;
    QTreeView* listView1_ = nullptr;
    std::array<QToolButton*, kButtonCount> buttons_{};
    std::array<QLabel*, kButtonCount> captions_{};
    std::array<QAction*, app::kMenuItemCount> actions_{};
    QAction* openRecording_ = nullptr;
    QLabel* label6_ = nullptr;
    QLabel* label9_ = nullptr;
    QLabel* statusText_ = nullptr;
    QTimer* timer1_ = nullptr;
    bool shown_ = false;
    StartupState state_ = StartupState::Waiting;

    // Continuous sampling (mmain_sampling.cpp).
public:
    bool sampling() const { return sampling_; }
    acquisition::Check* samplingThread() const { return check_.get(); }
    // SamplingObserver, called on the sampling thread: both only post to
    // this thread and return at once.
    void samplesStored(int32_t count) override;
    void samplesStoredRun(int32_t first, int32_t n) override;
    void memoryFull() override;
    void streamResumed(int64_t recordsLost) override;
    // After a stop whose "#L02" could not be sent: true while the window
    // waits for the stream to go quiet before it enables the other writers.
    bool waitingForQuietStream() const;
    // The status bar's notes beside the status text: the recording sign and
    // the note of an interrupted stream.
    QLabel* recordingSignLabel() const { return recordingSign_; }
    QLabel* streamNoteLabel() const { return streamNote_; }
    // Forgets the last stream interruption and its note, as a new sampling
    // run does.
    void clearStreamNote() {
        streamLost_.reset();
        showStreamNote();
    }
    // "Load from file", "Delete Sample Data" (button and menu) and "Batch to
    // list": the commands besides the sampling thread that write the memory.
    void setMemoryWritersEnabled(bool enabled);

private:
    void startSamplingThread();
    void setSamplingControlsEnabled(bool enabled);
    void showSampleCount();
    void samplingMemoryFull();
    // The end of a stop: the list rebuilt, the controls enabled again.
    void finishStop();
    void waitForQuietStream();

    std::unique_ptr<acquisition::Check> check_;
    std::atomic<int32_t> latestCount_{0};
    std::atomic<bool> countPosted_{false};
    bool sampling_ = false;
    QTimer* quietTimer_ = nullptr;
    QElapsedTimer quietSince_;
    uint64_t quietStored_ = 0;
    QLabel* streamNote_ = nullptr;
    // The records the last stream interruption lost (-1: unknown), kept so
    // that the note can be shown again in another language.
    std::optional<int64_t> streamLost_;
    void showStreamNote();
    QLabel* recordingSign_ = nullptr;

    // Sample files, export and batch readout (mmain_files.cpp).
public:
    void setExportForm(TFormExport* form) { formExport_ = form; }
    void setBatchGauge(Tform_gauge* gauge);
    // A batch readout runs on its thread; the commands that talk to the
    // instrument or write the memory are disabled until it ends.
    bool batchRunning() const;

private:
    // Runs `job` on the readout thread with the progress window; `done` runs
    // here when it has ended.
    void runBatch(std::function<void(device::DeviceLink&, acquisition::BatchUi&)> job,
                  std::function<void()> done);
    void setBatchControlsEnabled(bool enabled);
    // The answer of a save dialog, or the empty text when the operator
    // cancelled. The dialog refuses a folder that does not exist (a box says
    // so) and stays open, before anything is read or written.
    QString askSavePath(FileRequest request);
    void exportToFile();
    void exportToWorkbook();
    // Message box with the stop icon and the caption "Error".
    void showFileError(const QString& text);
    // The same with the caption in the current language.
    void showTranslatedError(const QString& text);

    TFormExport* formExport_ = nullptr;
    Tform_gauge* gauge_ = nullptr;
    std::unique_ptr<BatchWorker> batch_;
    std::unique_ptr<acquisition::BatchUi> batchUi_;
    // The controls the running readout disabled, to be enabled again.
    std::vector<QPointer<QWidget>> batchWidgets_;
    std::vector<QPointer<QAction>> batchActions_;

    // Recording of the samples to a file (mmain_recording.cpp).
public:
    bool recording() const { return recorder_ != nullptr; }
    const files::RecordWriter* recorder() const { return recorder_.get(); }

private:
    // Ends the recording, writing what it holds; a failed write is shown in
    // a box when `report`.
    void stopRecording(bool report = false);
    // Every few hundred milliseconds while recording: a failed write ends it.
    void watchRecording();
    void showRecordingSign(bool on);

    std::shared_ptr<files::RecordWriter> recorder_;
    QString recordPath_;
    QTimer* recordTimer_ = nullptr;
};

}  // namespace tarvelo::gui
