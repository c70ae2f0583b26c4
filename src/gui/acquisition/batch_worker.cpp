#include "acquisition/batch_worker.h"

#include <QMetaObject>
#include <QString>

namespace tarvelo::gui {

BatchWorker::BatchWorker(const app::Settings& settings, const std::atomic<int32_t>& socketTimeoutMs,
                         device::LinkTiming timing, acquisition::BatchUi& ui,
                         device::LinkObserver& observer, QObject* parent)
    : QObject(parent),
      link_(settings, socketTimeoutMs, this, timing),
      ui_(ui),
      observer_(observer) {}

BatchWorker::~BatchWorker() {
    cancel();
    if (thread_.joinable())
        thread_.join();
}

void BatchWorker::start(Job job, std::function<void()> done) {
    if (running_)
        return;
    if (thread_.joinable())
        thread_.join();
    cancel_.store(false);
    running_ = true;
    thread_ = std::thread([this, job = std::move(job), done = std::move(done)]() mutable {
        job(link_, *this);
        // Posted after every report of the readout, so it is delivered last.
        post([this, done = std::move(done)] {
            if (thread_.joinable())
                thread_.join();
            running_ = false;
            if (done)
                done();
        });
    });
}

void BatchWorker::cancel() {
    cancel_.store(true);
    std::lock_guard lock(mutex_);
    answered_.notify_all();
}

template <typename F>
void BatchWorker::post(F f) {
    // Dropped when this object is destroyed first: the destructor has
    // cancelled and joined the readout by then.
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void BatchWorker::error(const char* text) {
    // After Cancel no further box appears: the readout is ending.
    if (cancel_.load())
        return;
    {
        std::lock_guard lock(mutex_);
        errorOpen_ = true;
    }
    post([this, text] {
        if (!cancel_.load())
            ui_.error(text);
        std::lock_guard lock(mutex_);
        errorOpen_ = false;
        answered_.notify_all();
    });
    // The readout goes on once the operator has closed the box.
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [this] { return !errorOpen_ || cancel_.load(); });
}

void BatchWorker::progressStart(int maximum) {
    post([this, maximum] { ui_.progressStart(maximum); });
}

void BatchWorker::progress(int position) {
    post([this, position] { ui_.progress(position); });
}

void BatchWorker::progressFinish() {
    post([this] { ui_.progressFinish(); });
}

void BatchWorker::rowAppended(const acquisition::SampleRow& row) {
    post([this, row] { ui_.rowAppended(row); });
}

void BatchWorker::showStatus(int uiTextEntry) {
    post([this, uiTextEntry] { observer_.showStatus(uiTextEntry); });
}

void BatchWorker::showSendError() {
    if (cancel_.load())
        return;
    post([this] {
        if (!cancel_.load())
            observer_.showSendError();
    });
}

}  // namespace tarvelo::gui
