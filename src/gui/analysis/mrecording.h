#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "acquisition/sample_row.h"
#include "recording/recording_reader.h"
#include "recording/split_run.h"
#include "recording/stretch.h"

class QCheckBox;
class QProgressDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace tarvelo::app {
struct ProcessValues;
}

namespace tarvelo::gui {

class Dialogs;
class RecordingView;

// A window of its own for one recording of any length: opens it on a thread
// of its own with a progress bar and Cancel, then shows the curves
// (RecordingView), the channel boxes, "Whole run" and "Undo zoom", the
// values under the cursor line and the statistics of the stretch in view,
// computed by the core over every sample of it, with Copy; "Take into
// memory" puts the stretch in view into the sample memory (at most 10240
// samples), "Export stretch..." writes it to a file. Deletes itself
// when closed; a file that cannot be read is reported in a box and the
// window closes.
class TrecordingWindow : public QWidget {
    Q_OBJECT

public:
    TrecordingWindow(app::ProcessValues& values, Dialogs& dialogs, QWidget* owner);
    ~TrecordingWindow() override;  // stops a reading in progress

    // What became of a stretch handed to the sample memory.
    enum class Take {
        Taken,
        Declined,  // the operator kept the memory as it was
        Busy,      // sampling or a batch readout owns the memory now
    };
    // Replaces the sample memory by the rows (oldest first), asking in a box
    // owned by the given window when the memory holds samples.
    using MemoryTaker =
        std::function<Take(const std::vector<acquisition::SampleRow>&, QWidget* asker)>;
    void setMemoryTaker(MemoryTaker taker) { taker_ = std::move(taker); }

    // Starts reading `path` and shows the window with its progress.
    void open(const QString& path);
    // The same for the parts of a split run, in any order; files that are
    // not the consecutive parts of one run are refused in a box naming the
    // one that does not fit, and the window closes.
    void open(const QStringList& paths);

    bool opening() const { return reader_.joinable(); }
    // An "Export stretch..." is being written (on a thread of its own).
    bool exporting() const { return exporter_.joinable(); }
    const recording::Recording* recording() const { return recording_.get(); }
    RecordingView* view() const { return view_; }
    // The statistics as Copy puts them on the clipboard.
    QString statisticsText() const;

signals:
    // The reading ended: with a recording shown, or not (failed or cancelled).
    void openingFinished(bool shown);
    // An export's writing ended (written, failed or cancelled; any box shown).
    void exportFinished();

private:
    void finishOpening();
    void refuseRun(const recording::RunOrder& order);
    void cancelOpening();
    void updateStatistics();
    void showCursor(std::optional<uint64_t> sample);
    void copyStatistics();
    void takeIntoMemory();
    void exportStretch();
    void finishExport();
    QString text(int programText) const;

    app::ProcessValues& values_;
    Dialogs& dialogs_;
    QWidget* owner_;
    QString path_;  // the first file of the run
    bool severalFiles_ = false;
    int language_ = 1;
    MemoryTaker taker_;

    std::thread reader_;
    std::atomic<bool> cancelled_{false};
    recording::ReadOutcome outcome_;
    std::unique_ptr<recording::Recording> recording_;

    std::thread exporter_;
    std::atomic<bool> exportCancelled_{false};
    recording::StretchExport exportOutcome_;
    QString exportPath_;
    QProgressDialog* exportProgress_ = nullptr;

    QStackedWidget* pages_ = nullptr;
    QLabel* openingLabel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    RecordingView* view_ = nullptr;
    QPushButton* wholeRun_ = nullptr;
    QPushButton* undo_ = nullptr;
    QPushButton* take_ = nullptr;
    QPushButton* export_ = nullptr;
    std::array<QCheckBox*, 4> channels_{};
    QLabel* cursor_ = nullptr;
    QLabel* count_ = nullptr;
    std::array<QLabel*, 4> headings_{};
    std::array<QLabel*, 4> rowHeadings_{};
    std::array<std::array<QLabel*, 4>, 4> cells_{};  // [row][channel]
    QPushButton* copy_ = nullptr;
    QLabel* info_ = nullptr;
};

}  // namespace tarvelo::gui
