#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "acquisition/sample_row.h"
#include "acquisition/stream_assembler.h"
#include "device/mtrans.h"

namespace tarvelo::app {
class Settings;
}
namespace tarvelo::files {
class RecordWriter;
}

namespace tarvelo::acquisition {

class MeasurementMemory;

// What the sampling thread reports. Both calls are made ON THE SAMPLING
// THREAD and must return at once: an implementation only posts the news to
// its own thread (the window coalesces the counts to the latest one). A call
// that waits for the user interface would stall the stream.
class SamplingObserver {
public:
    virtual ~SamplingObserver() = default;
    // After every stored sample with WritePosition after the advance and
    // before the wrap (the 10240th sample reports 10240), and after every
    // receive time-out with the current WritePosition. The text shown is
    // "%d data sets received".
    virtual void samplesStored(int32_t count) = 0;
    // The samples stored from one receive: the `n` counts `first`,
    // first % 10240 + 1, ... that n calls of samplesStored would report. By
    // default those calls are made; an observer that shows only the newest
    // count takes the run at once, which keeps a fast stream from paying
    // for a report per sample.
    virtual void samplesStoredRun(int32_t first, int32_t n);
    // A record arrived while the memory was full from a load and not wrapped:
    // the thread stops the instrument's stream itself. The window resets the
    // caption to "Start Data sampling" and clears its sampling flag; the
    // controls disabled by the start stay disabled.
    virtual void memoryFull() = 0;
    // The stream connection was lost while sampling was switched on and has
    // been made again; "#L01" has been sent anew and the first records after
    // the gap have arrived. `recordsLost` is the number of records missing as
    // far as the device times on either side tell (one record per
    // millisecond, plus the records of the sample in progress that the gap
    // cut), or -1 when that is not known (the device clock went back, as
    // after an instrument restart). Called on the sampling thread.
    virtual void streamResumed(int64_t recordsLost) { (void)recordsLost; }
};

// The continuous sampling thread. It holds a connection to the instrument's
// stream port (Port + 2) for the whole run, assembles the 48-byte records
// however the bytes arrive, averages N records per sample (N from the
// SampleRate index, read anew for every record) and appends each sample to
// the memory. Start and stop of the instrument's stream ("#L01"/"#L02") are
// the window's business; this thread stores whatever arrives.
//
// When the stream connection fails or is closed by the instrument, nothing is
// stored and the thread tries the configured address again once a second
// (LinkTiming::reconnectInterval).
class Check {
public:
    Check(const app::Settings& settings, MeasurementMemory& memory, SamplingObserver* observer,
          device::LinkTiming timing = {});
    // shutdown() and join: every wait of the thread is woken by shutdown(), so
    // the join returns promptly.
    ~Check();
    Check(const Check&) = delete;
    Check& operator=(const Check&) = delete;

    // Starts the thread (once; later calls do nothing).
    void start();
    // Asks the thread to end and wakes it wherever it waits: the stream and
    // command sockets are shut down and the reconnect wait is interrupted.
    // Returns at once; safe from any thread and more than once.
    void shutdown();

    // Recording: from the next stored sample on, every sample this thread
    // stores in the memory is also handed to `writer`, in order; the hand-over
    // never waits for the disk. nullptr ends it. Safe from any thread: when
    // this returns, the thread hands no more samples to the previous writer.
    void setRecorder(std::shared_ptr<files::RecordWriter> writer);

    // Sampling is switched on: the window sets this when it has sent "#L01"
    // and clears it with "#L02". While it is set, a stream connection that
    // was lost and made again (an instrument restart, a network drop) is
    // followed by "#L01" on a command connection of the thread's own, so
    // the sampling goes on. Safe from any thread.
    void setStreamWanted(bool wanted) { streamWanted_.store(wanted); }
    bool streamWanted() const { return streamWanted_.load(); }
    // Times "#L01" was sent again after a reconnect.
    int streamRestarts() const { return streamRestarts_.load(); }

    // Receive buffer: whole records are consumed from it, a partial record
    // stays for the next receive.
    static constexpr std::size_t kReceiveBufferSize = 64 * 1024;

    // Counters for tests and benchmarks (updated once per receive).
    // Whole records taken from the stream, the discarded ones included.
    uint64_t recordsConsumed() const { return recordsConsumed_.load(std::memory_order_relaxed); }
    // Records thrown away by the memory-full procedure.
    uint64_t recordsDiscarded() const { return recordsDiscarded_.load(std::memory_order_relaxed); }
    uint64_t samplesStored() const { return samplesStored_.load(std::memory_order_relaxed); }
    bool connected() const { return connected_.load(); }
    // Successful connects to the stream port so far.
    int streamConnects() const { return streamConnects_.load(); }
    // Runs of the memory-full procedure so far.
    int memoryFullRuns() const { return memoryFullRuns_.load(); }

private:
    // What a receive on the stream gave.
    enum class Receive { Data, TimedOut, Closed, Stopping };

    void run();
    bool stopRequested() const { return stop_.load(); }
    // Opens a socket with the worker receive time-out and connects it,
    // publishing it in `slot` first so that shutdown() can wake the connect.
    // -1 on failure, after the connect time-out or when the thread is asked
    // to end.
    int connectPublished(int& slot, int port);
    void closePublished(int& slot);
    // Interruptible pause; false when the thread is asked to end.
    bool waitBeforeReconnect();
    // Receives into the buffer after the partial record already held.
    Receive receive();
    // Appends the rows the assembler completed to the memory and reports
    // them; false when the memory refused them because a load has filled it.
    bool storePending();
    // "#L02" on a command connection of the thread's own, then the drain.
    // TimedOut when the stream has gone quiet, else Closed or Stopping.
    Receive memoryFullProcedure();
    void publishCounters();
    // "#L01" on a command connection of the thread's own after a reconnect.
    void restartStream();
    // The first records after a reconnect: reports the gap once.
    void reportGap();

    const app::Settings& settings_;
    MeasurementMemory& memory_;
    SamplingObserver* observer_;
    device::LinkTiming timing_;

    std::thread thread_;
    std::atomic<bool> started_{false};
    std::atomic<bool> stop_{false};

    // Sockets the thread owns; published under the lock so that shutdown()
    // never touches a descriptor that has been closed (and maybe reused).
    std::mutex mutex_;
    std::condition_variable wake_;
    int streamFd_ = -1;
    int commandFd_ = -1;

    // Thread-only state: the receive buffer with the partial record and the
    // sample being averaged (allocated once).
    StreamAssembler stream_;
    bool fullHandled_ = false;
    uint64_t consumedLocal_ = 0;
    uint64_t discardedLocal_ = 0;
    uint64_t storedLocal_ = 0;

    std::atomic<uint64_t> recordsConsumed_{0};
    std::atomic<uint64_t> recordsDiscarded_{0};
    std::atomic<uint64_t> samplesStored_{0};
    std::atomic<bool> connected_{false};

    std::mutex recorderMutex_;
    std::shared_ptr<files::RecordWriter> recorder_;  // guarded by recorderMutex_
    std::atomic<bool> recording_{false};
    std::atomic<int> streamConnects_{0};
    std::atomic<int> memoryFullRuns_{0};
    std::atomic<bool> streamWanted_{false};
    std::atomic<int> streamRestarts_{0};
    // Thread-only: a reconnect has happened and its gap is not reported yet;
    // the records of the sample in progress that the lost connection cut.
    bool gapPending_ = false;
    int64_t cutRecords_ = 0;
};

}  // namespace tarvelo::acquisition
