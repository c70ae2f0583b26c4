#include "publish/recording_publisher.h"

namespace tarvelo::publish {

bool RecordingPublisher::samples(const acquisition::SampleRow* rows, std::size_t n) {
    publisher_.publish(rows, n);
    return true;
}

void RecordingPublisher::progress(const acquisition::RecordingProgress&) {
    for (const auto& text : publisher_.takeNotices())
        notice_(text);
}

std::string endReason(acquisition::RecordingEnd end) {
    using acquisition::RecordingEnd;
    switch (end) {
        case RecordingEnd::Completed:
            return "completed";
        case RecordingEnd::Stopped:
            return "stopped";
        case RecordingEnd::ConnectFailed:
            return "connect failed";
        case RecordingEnd::StartFailed:
            return "start failed";
        case RecordingEnd::StreamClosed:
            return "stream closed";
        case RecordingEnd::StreamStalled:
            return "stream stalled";
        case RecordingEnd::SinkFailed:
            return "output failed";
    }
    return "ended";
}

}  // namespace tarvelo::publish
