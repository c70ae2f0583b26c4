#include "acquisition/stream_recording.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <sys/socket.h>

#include "acquisition/stream_assembler.h"
#include "app/process_values.h"
#include "device/replies.h"

namespace tarvelo::acquisition {

namespace {

using Clock = std::chrono::steady_clock;

// How long one receive on the stream may wait, so that `stop`, the duration
// and the stall limit are looked at often enough.
constexpr int kReceiveSliceMs = 100;
// Receive buffer of the stream: whole records are consumed from it.
constexpr std::size_t kStreamBufferSize = 64 * 1024;
// The waits before the tries to connect again after the stream broke: the
// first, and the longest the doubling reaches. One second at most, so that
// samples flow again within about a second of the instrument answering.
constexpr std::chrono::milliseconds kFirstRetryDelay{200};
constexpr std::chrono::milliseconds kLongestRetryDelay{1000};

// One command on a command connection of its own, the reply not examined.
// Empty on success, else why it failed.
std::string sendCommand(const RecordingPlan& plan, const char* command) {
    const auto receiveMs = static_cast<int>(plan.timing.workerReceiveTimeout.count());
    const int fd = device::connectTo(plan.address, plan.port, receiveMs, receiveMs,
                                     plan.timing.connectTimeout);
    if (fd < 0)
        return device::describeConnectFailure(plan.address, plan.port, errno,
                                              plan.timing.connectTimeout);
    bool sendFailed = false;
    device::exchange(fd, command, plan.timing, &sendFailed);
    device::closeSocket(fd);
    if (sendFailed)
        return std::string("could not send ") + command + " to " + plan.address + ":" +
               std::to_string(plan.port);
    return {};
}

// Connects the stream port and starts the stream ("#L01"): the stream's
// socket, or -1 with the reason and how it failed.
int startStream(const RecordingPlan& plan, std::string& error, RecordingEnd& failure) {
    const int streamPort = plan.port + 2;
    const int fd =
        device::connectTo(plan.address, streamPort, kReceiveSliceMs, 0, plan.timing.connectTimeout);
    if (fd < 0) {
        failure = RecordingEnd::ConnectFailed;
        error = device::describeConnectFailure(plan.address, streamPort, errno,
                                               plan.timing.connectTimeout);
        return -1;
    }
    if (std::string failed = sendCommand(plan, device::kCmdStreamStart); !failed.empty()) {
        device::closeSocket(fd);
        failure = failed.starts_with("could not send") ? RecordingEnd::StartFailed
                                                       : RecordingEnd::ConnectFailed;
        error = std::move(failed);
        // The stream may have been started all the same; stopping it costs little.
        sendCommand(plan, device::kCmdStreamStop);
        return -1;
    }
    return fd;
}

// Waits `delay`, looking at `stop` every 50 ms; false when it was set.
bool pause(std::chrono::milliseconds delay, const std::atomic<bool>& stop) {
    const auto until = Clock::now() + delay;
    while (Clock::now() < until) {
        if (stop.load())
            return false;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
    }
    return !stop.load();
}

}  // namespace

RecordingResult recordStream(const RecordingPlan& plan, RecordingSink& sink,
                             const std::atomic<bool>& stop) {
    RecordingResult result;
    const int streamPort = plan.port + 2;
    int streamFd = startStream(plan, result.error, result.end);
    if (streamFd < 0) {
        sink.ended(result);
        return result;
    }

    const std::atomic<int32_t> sampleRate{plan.sampleRate};
    StreamAssembler stream(sampleRate, kStreamBufferSize);
    const auto start = Clock::now();
    auto lastData = start;    // the last bytes on this stream
    auto lastRecord = start;  // the last bytes on any stream of the run
    // The device time at which the run ends, set by the first sample.
    std::optional<double> endTimeMs;
    // An interruption waiting for the first sample after it, and the device
    // time of the last sample before it.
    std::optional<RecordingGap> gap;
    std::optional<double> lastTimeMs;
    for (;;) {
        if (stop.load()) {
            result.end = RecordingEnd::Stopped;
            break;
        }
        const ssize_t n = ::recv(streamFd, stream.receiveSpace(), stream.receiveRoom(), 0);
        if (n > 0) {
            lastData = Clock::now();
            lastRecord = lastData;
            stream.received(static_cast<std::size_t>(n));
            result.records += stream.takeRecords();
            const SampleRow* rows = stream.rows();
            std::size_t count = stream.rowCount();
            bool complete = false;
            if (plan.samples > 0 && count >= plan.samples - result.samples) {
                count = static_cast<std::size_t>(plan.samples - result.samples);
                complete = true;
            }
            if (plan.duration.count() > 0 && count > 0) {
                if (!endTimeMs)
                    endTimeMs = rows[0].timeMs + static_cast<double>(plan.duration.count());
                const auto last = std::find_if(rows, rows + count, [&](const SampleRow& row) {
                    return row.timeMs >= *endTimeMs;
                });
                if (last != rows + count) {
                    count = static_cast<std::size_t>(last - rows);
                    complete = true;
                }
            }
            if (count > 0 && gap) {
                // The stream is back: the gap in device time, and the records
                // missing as far as the time stamps tell (one a millisecond).
                gap->afterMs = rows[0].timeMs;
                const double step = static_cast<double>(app::recordsPerSample(plan.sampleRate));
                gap->missingRecords =
                    gap->beforeMs && gap->afterMs > *gap->beforeMs + step
                        ? static_cast<uint64_t>(gap->afterMs - *gap->beforeMs - step)
                        : 0;
                sink.interrupted(*gap);
                gap.reset();
            }
            if (count > 0 && !sink.samples(rows, count)) {
                result.end = RecordingEnd::SinkFailed;
                break;
            }
            if (count > 0)
                lastTimeMs = rows[count - 1].timeMs;
            result.samples += count;
            sink.progress({result.samples, result.records, lastData - start});
            if (complete) {
                result.end = RecordingEnd::Completed;
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        std::string lost;
        RecordingEnd end = RecordingEnd::StreamClosed;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto quiet = Clock::now();
            sink.progress({result.samples, result.records, quiet - start});
            if (quiet - lastData < plan.stallLimit)
                continue;
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g s",
                          std::chrono::duration<double>(plan.stallLimit).count());
            end = RecordingEnd::StreamStalled;
            lost = "no data on the stream of " + plan.address + ":" + std::to_string(streamPort) +
                   " for " + seconds;
        } else {
            lost = "the instrument closed the stream of " + plan.address + ":" +
                   std::to_string(streamPort) +
                   (n < 0 ? std::string(": ") + std::strerror(errno) : std::string());
        }
        if (plan.retry.count() <= 0) {
            result.end = end;
            result.error = std::move(lost);
            break;
        }

        // Connect again: first after 0.2 s, then a little longer each time,
        // for as long as `retry` allows from the moment the data stopped. A
        // sample half assembled when the stream broke is not completed with
        // the records of another stream.
        device::closeSocket(streamFd);
        streamFd = -1;
        stream.reset();
        if (!gap) {
            gap = RecordingGap{};
            gap->beforeMs = lastTimeMs;
            gap->reason = lost;
        }
        const auto until = lastRecord + plan.retry;
        auto delay = kFirstRetryDelay;
        std::string why = lost;
        RecordingEnd failure = end;
        bool stopped = false;
        while (streamFd < 0) {
            if (Clock::now() + delay > until)
                break;
            if (!pause(delay, stop)) {
                stopped = true;
                break;
            }
            ++gap->attempts;
            streamFd = startStream(plan, why, failure);
            delay = std::min(delay * 2, kLongestRetryDelay);
        }
        if (stopped) {
            result.end = RecordingEnd::Stopped;
            break;
        }
        if (streamFd < 0) {
            result.end = end;
            result.error = lost + "; no new stream within " +
                           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                              plan.retry)
                                              .count()) +
                           " s (" + why + ")";
            break;
        }
        ++result.reconnects;
        // The stall limit counts again from the new stream.
        lastData = Clock::now();
    }

    // Whatever ended the run, the instrument's stream is stopped; records
    // still on their way are not part of the run.
    std::string stopError = sendCommand(plan, device::kCmdStreamStop);
    if (streamFd >= 0)
        device::closeSocket(streamFd);
    result.stopSent = stopError.empty();
    if (!result.stopSent) {
        stopError = "the stream was not stopped (" + stopError + ")";
        result.error = result.error.empty() ? stopError : result.error + "; " + stopError;
    }
    sink.ended(result);
    return result;
}

}  // namespace tarvelo::acquisition
