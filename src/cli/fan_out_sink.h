#pragma once

#include <vector>

#include "acquisition/stream_recording.h"

namespace tarvelo::cli {

// Hands a recording's samples to several sinks in turn (the file and the
// broker). The run ends when one of them refuses samples.
class FanOutSink : public acquisition::RecordingSink {
public:
    void add(acquisition::RecordingSink* sink) {
        if (sink != nullptr)
            sinks_.push_back(sink);
    }
    bool samples(const acquisition::SampleRow* rows, std::size_t n) override {
        for (auto* sink : sinks_)
            if (!sink->samples(rows, n))
                return false;
        return true;
    }
    void progress(const acquisition::RecordingProgress& progress) override {
        for (auto* sink : sinks_)
            sink->progress(progress);
    }
    void interrupted(const acquisition::RecordingGap& gap) override {
        for (auto* sink : sinks_)
            sink->interrupted(gap);
    }
    void ended(const acquisition::RecordingResult& result) override {
        for (auto* sink : sinks_)
            sink->ended(result);
    }

private:
    std::vector<acquisition::RecordingSink*> sinks_;
};

}  // namespace tarvelo::cli
