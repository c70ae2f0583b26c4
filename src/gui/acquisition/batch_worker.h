#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <QObject>

#include "acquisition/batch_readout.h"
#include "device/mtrans.h"

namespace tarvelo::app {
class Settings;
}

namespace tarvelo::gui {

// Runs one batch readout of the core on a thread of its own, so that the
// windows repaint and the operator can cancel while it goes on. The thread
// has a command connection of its own (same settings and timing as the
// window's); everything the readout reports is posted to `ui` and
// `observer` on the user-interface thread. An error box is waited for, as
// the readout goes on only after the operator has closed it.
class BatchWorker : public QObject, private acquisition::BatchUi, private device::LinkObserver {
    Q_OBJECT
public:
    using Job = std::function<void(device::DeviceLink& link, acquisition::BatchUi& ui)>;

    // `ui` and `observer` are called on the user-interface thread only.
    BatchWorker(const app::Settings& settings, const std::atomic<int32_t>& socketTimeoutMs,
                device::LinkTiming timing, acquisition::BatchUi& ui, device::LinkObserver& observer,
                QObject* parent = nullptr);
    // Cancels and waits for the exchange in progress.
    ~BatchWorker() override;

    // Runs `job` on the thread; `done` runs on the user-interface thread
    // once it has returned and every report before it has been delivered.
    void start(Job job, std::function<void()> done);
    // The readout ends after the exchange in progress; safe more than once.
    void cancel();
    bool running() const { return running_; }

private:
    // BatchUi and LinkObserver, called on the readout's thread.
    void error(const char* text) override;
    void progressStart(int maximum) override;
    void progress(int position) override;
    void progressFinish() override;
    void rowAppended(const acquisition::SampleRow& row) override;
    bool cancelRequested() override { return cancel_.load(); }
    void showStatus(int uiTextEntry) override;
    void showSendError() override;

    template <typename F>
    void post(F f);

    device::DeviceLink link_;
    acquisition::BatchUi& ui_;
    device::LinkObserver& observer_;
    std::thread thread_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;  // user-interface thread only

    std::mutex mutex_;
    std::condition_variable answered_;
    bool errorOpen_ = false;  // guarded by mutex_
};

}  // namespace tarvelo::gui
