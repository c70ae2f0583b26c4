#pragma once

#include <functional>
#include <string>

#include "acquisition/stream_recording.h"
#include "publish/publisher.h"

namespace tarvelo::publish {

// A recording's sink that publishes every sample (the acquisition knows
// nothing of publishing). Never refuses samples: the broker being away only
// fills the queue. The publisher's notices are handed to `notice` on the
// recording's thread, at the latest with the next progress call.
class RecordingPublisher : public acquisition::RecordingSink {
public:
    RecordingPublisher(Publisher& publisher, std::function<void(const std::string&)> notice)
        : publisher_(publisher), notice_(std::move(notice)) {}

    bool samples(const acquisition::SampleRow* rows, std::size_t n) override;
    void progress(const acquisition::RecordingProgress& progress) override;

private:
    Publisher& publisher_;
    std::function<void(const std::string&)> notice_;
};

// The reason a run ended, as PREFIX/status gives it: "completed", "stopped",
// "connect failed", "start failed", "stream closed", "stream stalled",
// "output failed".
std::string endReason(acquisition::RecordingEnd end);

}  // namespace tarvelo::publish
