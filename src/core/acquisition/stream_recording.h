#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "acquisition/sample_row.h"
#include "device/mtrans.h"

namespace tarvelo::acquisition {

// One recording run from the instrument's stream, without a window and
// without the measurement memory (a run may be of any length): the stream
// port (Port + 2) is connected first, then "#L01" starts the stream on a
// command connection of its own; the records are cut and averaged by the
// StreamAssembler (N records per sample from the SampleRate index) and each
// completed sample goes to the sink as it comes; at the end "#L02" stops the
// stream on another command connection, whatever ended the run.
struct RecordingPlan {
    std::string address;
    int32_t port = 0;        // command port; the stream is on port + 2
    int32_t sampleRate = 6;  // SampleRate index, 0..12
    // The run ends after this many samples (0: no limit), or before the
    // first sample whose device time is `duration` or more after the first
    // sample's (0: no limit), whichever comes first, or when `stop` is set.
    // The device clock decides, so a run of S seconds holds the same samples
    // however the records are delayed on their way.
    uint64_t samples = 0;
    std::chrono::milliseconds duration{0};
    // A stream that sends nothing for this long is lost.
    std::chrono::milliseconds stallLimit{10000};
    // A lost stream (closed, or silent for stallLimit) is connected and
    // started again, first after 0.2 s and then at growing intervals of up to
    // 1 s, for this long after its last data (0: the run ends as a failure).
    std::chrono::milliseconds retry{0};
    device::LinkTiming timing{};
};

struct RecordingProgress {
    uint64_t samples = 0;
    uint64_t records = 0;
    std::chrono::steady_clock::duration elapsed{};
};

struct RecordingResult;

// An interruption of the stream that the recording came back from.
struct RecordingGap {
    std::string reason;               // why the stream was lost
    std::optional<double> beforeMs;   // device time of the last sample before
    double afterMs = 0;               // device time of the first sample after
    uint64_t missingRecords = 0;      // as far as the time stamps tell
    int attempts = 0;                 // tries to connect again
};

// Where the samples go: a file writer, standard output, a publisher. Called
// on the recording's thread; a sink never touches the connection.
class RecordingSink {
public:
    virtual ~RecordingSink() = default;
    // `n` completed samples, oldest first. False ends the run (the output
    // failed); "#L02" is still sent.
    virtual bool samples(const SampleRow* rows, std::size_t n) = 0;
    // After every receive and every quiet interval (at least every 100 ms).
    virtual void progress(const RecordingProgress& progress) { (void)progress; }
    // The stream was lost and is back; called just before the first samples
    // after the gap. The samples go on numbered without a break.
    virtual void interrupted(const RecordingGap& gap) { (void)gap; }
    // Once, after "#L02" was sent (or could not be), however the run ended.
    virtual void ended(const RecordingResult& result) { (void)result; }
};

enum class RecordingEnd {
    Completed,      // the sample count or the duration (device time) was reached
    Stopped,        // `stop` was set
    ConnectFailed,  // the stream port or the command port could not be reached
    StartFailed,    // "#L01" could not be sent
    StreamClosed,   // the instrument closed the stream during the run
    StreamStalled,  // no bytes for stallLimit
    SinkFailed,     // the sink refused samples
};

struct RecordingResult {
    RecordingEnd end = RecordingEnd::Completed;
    uint64_t samples = 0;   // samples handed to the sink
    uint64_t records = 0;   // whole records received
    uint64_t reconnects = 0;  // streams started again after a loss
    bool stopSent = false;  // "#L02" went out
    std::string error;      // why the run failed, or why "#L02" did not go out
    bool ok() const {
        return (end == RecordingEnd::Completed || end == RecordingEnd::Stopped) && stopSent;
    }
};

// Runs the recording on the calling thread. `stop` is looked at after every
// receive and at least every 100 ms; a signal that interrupts the receive is
// seen at once.
RecordingResult recordStream(const RecordingPlan& plan, RecordingSink& sink,
                             const std::atomic<bool>& stop);

}  // namespace tarvelo::acquisition
