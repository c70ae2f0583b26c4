#include "acquisition/stream_recording.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/socket.h>

#include "acquisition/stream_assembler.h"
#include "device/replies.h"

namespace tarvelo::acquisition {

namespace {

using Clock = std::chrono::steady_clock;

// How long one receive on the stream may wait, so that `stop`, the duration
// and the stall limit are looked at often enough.
constexpr int kReceiveSliceMs = 100;
// Receive buffer of the stream: whole records are consumed from it.
constexpr std::size_t kStreamBufferSize = 64 * 1024;

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

}  // namespace

RecordingResult recordStream(const RecordingPlan& plan, RecordingSink& sink,
                             const std::atomic<bool>& stop) {
    RecordingResult result;
    const int streamPort = plan.port + 2;
    const int streamFd =
        device::connectTo(plan.address, streamPort, kReceiveSliceMs, 0, plan.timing.connectTimeout);
    if (streamFd < 0) {
        result.end = RecordingEnd::ConnectFailed;
        result.error = device::describeConnectFailure(plan.address, streamPort, errno,
                                                      plan.timing.connectTimeout);
        sink.ended(result);
        return result;
    }

    if (std::string error = sendCommand(plan, device::kCmdStreamStart); !error.empty()) {
        device::closeSocket(streamFd);
        result.end = error.starts_with("could not send") ? RecordingEnd::StartFailed
                                                         : RecordingEnd::ConnectFailed;
        result.error = std::move(error);
        // The stream may have been started all the same; stopping it costs little.
        sendCommand(plan, device::kCmdStreamStop);
        sink.ended(result);
        return result;
    }

    const std::atomic<int32_t> sampleRate{plan.sampleRate};
    StreamAssembler stream(sampleRate, kStreamBufferSize);
    const auto start = Clock::now();
    auto lastData = start;
    // The device time at which the run ends, set by the first sample.
    std::optional<double> endTimeMs;
    for (;;) {
        if (stop.load()) {
            result.end = RecordingEnd::Stopped;
            break;
        }
        const ssize_t n = ::recv(streamFd, stream.receiveSpace(), stream.receiveRoom(), 0);
        if (n > 0) {
            lastData = Clock::now();
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
            if (count > 0 && !sink.samples(rows, count)) {
                result.end = RecordingEnd::SinkFailed;
                break;
            }
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
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto quiet = Clock::now();
            sink.progress({result.samples, result.records, quiet - start});
            if (quiet - lastData >= plan.stallLimit) {
                result.end = RecordingEnd::StreamStalled;
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g s",
                              std::chrono::duration<double>(plan.stallLimit).count());
                result.error = "no data on the stream of " + plan.address + ":" +
                               std::to_string(streamPort) + " for " + seconds;
                break;
            }
            continue;
        }
        result.end = RecordingEnd::StreamClosed;
        result.error = "the instrument closed the stream of " + plan.address + ":" +
                       std::to_string(streamPort) +
                       (n < 0 ? std::string(": ") + std::strerror(errno) : std::string());
        break;
    }

    // Whatever ended the run, the instrument's stream is stopped; records
    // still on their way are not part of the run.
    std::string stopError = sendCommand(plan, device::kCmdStreamStop);
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
