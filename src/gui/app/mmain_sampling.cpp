// Continuous sampling in the main window: the start and stop of the
// instrument's stream, the enabling while it runs, the running count in the
// status bar and the list rebuilt at the stop. The sampling thread itself
// lives in the core (acquisition::Check).
#include "app/mmain.h"

#include <QAction>
#include <QLabel>
#include <QMetaObject>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include "acquisition/measurement_memory.h"
#include "acquisition/samplelistmodel.h"
#include "app/process_values.h"
#include "app/program_text.h"
#include "app/shown_text.h"
#include "device/replies.h"

namespace tarvelo::gui {

namespace {

using app::MenuItem;
using Button = ThauptFenster::Button;

// UiText entries of the start/stop caption.
constexpr int kStartSamplingEntry = 5;  // "Start Data sampling"
constexpr int kStopSamplingEntry = 11;  // "Stop Data sampling"
// The sampling status text, the same in every language.
constexpr const char* kSamplesReceivedFormat = "%d data sets received";
// After a stop whose "#L02" could not be sent, the instrument may go on
// streaming: the other writers of the memory wait until the sampling thread
// has stored nothing for this long (or its stream has closed).
constexpr int kQuietAfterFailedStopMs = 1000;
constexpr int kQuietPollMs = 100;

}  // namespace

void ThauptFenster::startSamplingThread() {
    // Created after the settings were read: the thread connects to the
    // configured address and port + 2, and retries nothing else.
    check_ = std::make_unique<acquisition::Check>(values_.settings, values_.memory, this,
                                                  values_.workerTiming);
    check_->start();
}

void ThauptFenster::setSamplingControlsEnabled(bool enabled) {
    button(Button::SingleShoot)->setEnabled(enabled);
    action(MenuItem::GetActualSample)->setEnabled(enabled);
    setSaveExportEnabled(enabled);
    // The sampling thread appends without waiting for this thread, so the
    // other writers of the memory stay away while it runs.
    setMemoryWritersEnabled(enabled);
}

void ThauptFenster::StartStopTransferClick() {
    const bool connected = link_.ConnectServer() == 0;
    // A failed connect ends a start; a stop goes on all the same.
    if (!connected && !sampling_)
        return;
    QLabel* caption = buttonCaption(Button::StartStopTransfer);

    if (!sampling_) {
        // A start ends the wait of a failed stop: the controls stay disabled.
        if (quietTimer_)
            quietTimer_->stop();
        setSamplingControlsEnabled(false);
        caption->setText(QString::fromStdString(values_.uiText[kStopSamplingEntry]));
        sampling_ = true;
        clearStreamNote();
        // The reply is not examined.
        link_.SendReceive(device::kCmdStreamStart);
        link_.DisconnectServer();
        if (check_)
            check_->setStreamWanted(true);
        return;
    }

    caption->setText(QString::fromStdString(values_.uiText[kStartSamplingEntry]));
    sampling_ = false;
    if (check_)
        check_->setStreamWanted(false);
    // Without a connection the send fails and the link reports "Send error".
    link_.SendReceive(device::kCmdStreamStop);
    const bool stopSent = connected && !link_.lastSendFailed();
    link_.DisconnectServer();
    if (!stopSent && check_ && check_->connected()) {
        // The instrument was not told to stop and its records may keep
        // coming: the sampling thread stays the memory's only writer until
        // it has stored nothing for a second or its stream has closed.
        waitForQuietStream();
        return;
    }
    finishStop();
}

void ThauptFenster::finishStop() {
    // The list was left alone while sampling ran; it now shows the memory,
    // oldest first.
    listView1_->setUpdatesEnabled(false);
    model_->clear();
    model_->refill(values_.memory);
    listView1_->setUpdatesEnabled(true);
    setSamplingControlsEnabled(true);
}

void ThauptFenster::waitForQuietStream() {
    if (!quietTimer_) {
        quietTimer_ = new QTimer(this);
        quietTimer_->setInterval(kQuietPollMs);
        connect(quietTimer_, &QTimer::timeout, this, [this] {
            const uint64_t stored = check_ ? check_->samplesStored() : 0;
            if (stored != quietStored_) {
                quietStored_ = stored;
                quietSince_.restart();
            }
            if (!check_ || !check_->connected() ||
                quietSince_.elapsed() >= kQuietAfterFailedStopMs) {
                quietTimer_->stop();
                finishStop();
            }
        });
    }
    quietStored_ = check_->samplesStored();
    quietSince_.start();
    quietTimer_->start();
}

bool ThauptFenster::waitingForQuietStream() const {
    return quietTimer_ && quietTimer_->isActive();
}

// Sampling thread. Only the newest count matters: it is kept in an atomic and
// one update at a time is posted, so the thread never waits for the windows
// and this thread is not flooded by a fast stream.
void ThauptFenster::samplesStored(int32_t count) {
    latestCount_.store(count);
    if (!countPosted_.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { showSampleCount(); }, Qt::QueuedConnection);
}

void ThauptFenster::samplesStoredRun(int32_t first, int32_t n) {
    if (n <= 0)
        return;
    // Only the run's last count is shown.
    samplesStored((first - 1 + n - 1) % acquisition::kMemoryCapacity + 1);
}

void ThauptFenster::showSampleCount() {
    // Cleared before the count is read: a count stored after this point posts
    // a new update, so the last count reported is always shown.
    countPosted_.store(false);
    statusText_->setText(QString::asprintf(kSamplesReceivedFormat, latestCount_.load()));
}

// Sampling thread: a load filled the memory while the stream ran, and the
// thread stops the stream itself.
void ThauptFenster::memoryFull() {
    QMetaObject::invokeMethod(
        this, [this] { samplingMemoryFull(); }, Qt::QueuedConnection);
}

void ThauptFenster::samplingMemoryFull() {
    // The next click is a start. The controls the start disabled stay so
    // until that start's stop, and the list is not rebuilt. The lock-out of
    // the other memory writers belongs to the sampling flag and ends with
    // it, so the loaded memory can be replaced, cleared or added to again.
    buttonCaption(Button::StartStopTransfer)
        ->setText(QString::fromStdString(values_.uiText[kStartSamplingEntry]));
    sampling_ = false;
    if (check_)
        check_->setStreamWanted(false);
    setMemoryWritersEnabled(true);
}

// Sampling thread: the stream came back after a lost connection and the
// thread has asked the instrument for it again.
void ThauptFenster::streamResumed(int64_t recordsLost) {
    QMetaObject::invokeMethod(
        this,
        [this, recordsLost] {
            streamLost_ = recordsLost;
            showStreamNote();
        },
        Qt::QueuedConnection);
}

void ThauptFenster::showStreamNote() {
    if (!streamLost_) {
        streamNote_->clear();
        return;
    }
    const int language = values_.settings.language.load();
    streamNote_->setText(*streamLost_ < 0
                             ? shownText(app::ProgramText::StreamInterruptedUnknown, language)
                             : shownText(app::ProgramText::StreamInterrupted, language)
                                   .arg(static_cast<qlonglong>(*streamLost_)));
}

}  // namespace tarvelo::gui
