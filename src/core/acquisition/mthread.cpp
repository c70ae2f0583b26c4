#include "acquisition/mthread.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_row.h"
#include "app/settings.h"
#include "device/replies.h"
#include "device/socket_steps.h"
#include "files/record_writer.h"

namespace tarvelo::acquisition {

namespace {

bool fullUnwrapped(const MemoryState& state) {
    return !state.wrapped && state.writePosition >= kMemoryCapacity;
}

}  // namespace

void SamplingObserver::samplesStoredRun(int32_t first, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        samplesStored(first);
        first = first % kMemoryCapacity + 1;
    }
}

Check::Check(const app::Settings& settings, MeasurementMemory& memory, SamplingObserver* observer,
             device::LinkTiming timing)
    : settings_(settings),
      memory_(memory),
      observer_(observer),
      timing_(timing),
      stream_(settings.sampleRate, kReceiveBufferSize) {}

Check::~Check() {
    shutdown();
    if (thread_.joinable())
        thread_.join();
}

void Check::start() {
    if (started_.exchange(true))
        return;
    thread_ = std::thread([this] { run(); });
}

void Check::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stop_.store(true);
        // Wakes a blocked recv at once; the thread closes the sockets itself.
        if (streamFd_ >= 0)
            ::shutdown(streamFd_, SHUT_RDWR);
        if (commandFd_ >= 0)
            ::shutdown(commandFd_, SHUT_RDWR);
    }
    wake_.notify_all();
}

void Check::setRecorder(std::shared_ptr<files::RecordWriter> writer) {
    std::lock_guard lock(recorderMutex_);
    recording_.store(writer != nullptr);
    recorder_ = std::move(writer);
}

int Check::connectPublished(int& slot, int port) {
    const std::string address = settings_.ipServer();
    const int fd = device::detail::openStreamSocket();
    if (fd < 0)
        return -1;
    if (!device::detail::setReceiveTimeout(
            fd, static_cast<int>(timing_.workerReceiveTimeout.count()))) {
        ::close(fd);
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        if (stop_.load()) {
            ::close(fd);
            return -1;
        }
        slot = fd;
    }
    // Bounded by the connect time-out, and given up at once when the thread
    // is asked to end.
    if (!device::detail::connectSocket(fd, address, port, timing_.connectTimeout, &stop_)) {
        closePublished(slot);
        return -1;
    }
    return fd;
}

void Check::closePublished(int& slot) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = slot;
        slot = -1;
    }
    device::closeSocket(fd);
}

bool Check::waitBeforeReconnect() {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, timing_.reconnectInterval, [this] { return stop_.load(); });
}

void Check::publishCounters() {
    recordsConsumed_.store(consumedLocal_, std::memory_order_relaxed);
    recordsDiscarded_.store(discardedLocal_, std::memory_order_relaxed);
    samplesStored_.store(storedLocal_, std::memory_order_relaxed);
}

Check::Receive Check::receive() {
    for (;;) {
        if (stopRequested())
            return Receive::Stopping;
        const ssize_t n = ::recv(streamFd_, stream_.receiveSpace(), stream_.receiveRoom(), 0);
        if (n > 0) {
            stream_.received(static_cast<std::size_t>(n));
            return Receive::Data;
        }
        if (stopRequested())
            return Receive::Stopping;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Receive::TimedOut;
        // Closed by the instrument, or an error that leaves the connection unusable.
        return Receive::Closed;
    }
}

bool Check::storePending() {
    const auto n = static_cast<int32_t>(stream_.rowCount());
    if (n == 0)
        return true;
    // One lock for the whole receive. Refused when a load has filled the
    // memory since it was looked at: these samples then belong to the tail
    // of the stream that the memory-full procedure discards.
    const int32_t count = memory_.AppendSamples(stream_.rows(), n, !fullHandled_);
    if (count == 0)
        return false;
    storedLocal_ += static_cast<uint64_t>(n);
    if (recording_.load(std::memory_order_relaxed)) {
        std::lock_guard lock(recorderMutex_);
        if (recorder_)
            recorder_->append(stream_.rows(), static_cast<std::size_t>(n));
    }
    if (observer_)
        observer_->samplesStoredRun(count, n);
    return true;
}

Check::Receive Check::memoryFullProcedure() {
    memoryFullRuns_.fetch_add(1);
    fullHandled_ = true;
    // The records of the stream's tail are thrown away, so the sample begun
    // before them cannot be completed by records after them: a sample is the
    // mean of consecutive records.
    stream_.resetSample();
    if (observer_)
        observer_->memoryFull();

    // Stop the instrument's stream on a command connection of our own; the
    // reply is not examined.
    const int fd = connectPublished(commandFd_, settings_.port.load());
    if (fd >= 0) {
        device::exchange(fd, device::kCmdStreamStop, timing_);
        closePublished(commandFd_);
    }

    // Drain: discard whole records until the stream has been quiet for one
    // receive time-out. A partial record stays, so the records after the
    // drain are still cut at the right place.
    for (;;) {
        const Receive result = receive();
        if (result == Receive::TimedOut) {
            if (observer_)
                observer_->samplesStored(memory_.WritePosition());
            return result;
        }
        if (result != Receive::Data)
            return result;
        const std::size_t records = stream_.discardRecords();
        consumedLocal_ += records;
        discardedLocal_ += records;
        publishCounters();
    }
}

void Check::restartStream() {
    const int fd = connectPublished(commandFd_, settings_.port.load());
    if (fd < 0)
        return;
    // The reply is not examined, as at the window's start.
    device::exchange(fd, device::kCmdStreamStart, timing_);
    closePublished(commandFd_);
    streamRestarts_.fetch_add(1);
}

void Check::reportGap() {
    gapPending_ = false;
    const double before = stream_.lastRecordTimeMs();
    const double after = stream_.firstHeldRecordTimeMs();
    int64_t lost = -1;
    // One record per millisecond; a clock that went back (or no time on one
    // side) tells nothing.
    if (std::isfinite(before) && std::isfinite(after) && after > before &&
        after - before < 9.0e15)
        lost = static_cast<int64_t>(std::llround(after - before)) - 1 + cutRecords_;
    if (observer_)
        observer_->streamResumed(lost);
}

void Check::run() {
    // The memory is reset by the start-up sequence before this thread is
    // created; resetting it here as well would race with the user interface.
    while (!stopRequested()) {
        if (connectPublished(streamFd_, settings_.port.load() + 2) < 0) {
            if (!waitBeforeReconnect())
                break;
            continue;
        }
        connected_.store(true);
        const bool reconnect = streamConnects_.fetch_add(1) > 0;
        // A sample is the mean of consecutive records: nothing of a partial
        // record or sample survives a lost connection.
        cutRecords_ = stream_.pendingRecords();
        stream_.reset();
        // The instrument forgets its stream when it restarts or loses the
        // connection: while sampling is on, it is asked for it again.
        if (reconnect && streamWanted_.load()) {
            restartStream();
            gapPending_ = true;
        }

        Receive result;
        for (;;) {
            result = receive();
            if (result == Receive::TimedOut) {
                if (observer_)
                    observer_->samplesStored(memory_.WritePosition());
                continue;
            }
            if (result != Receive::Data)
                break;

            // A load of exactly 10240 rows leaves the memory full without the
            // wrap. The records that find it so are discarded with the rest of
            // the stream's tail, which keeps the loaded rows intact. The
            // procedure runs once per such load; after it the records are
            // stored again and the ring wraps over the oldest rows.
            if (gapPending_ && stream_.wholeRecords() > 0)
                reportGap();

            std::size_t records;
            bool full = false;
            if (!fullUnwrapped(memory_.state()))
                fullHandled_ = false;
            else if (!fullHandled_)
                full = true;
            if (!full) {
                records = stream_.takeRecords();
                full = !storePending();
            } else {
                records = stream_.discardRecords();
            }
            consumedLocal_ += records;
            if (full)
                discardedLocal_ += records;
            publishCounters();

            if (full) {
                result = memoryFullProcedure();
                if (result != Receive::TimedOut)
                    break;
            }
        }

        connected_.store(false);
        closePublished(streamFd_);
        publishCounters();
        if (result == Receive::Stopping || !waitBeforeReconnect())
            break;
    }
    publishCounters();
}

}  // namespace tarvelo::acquisition
