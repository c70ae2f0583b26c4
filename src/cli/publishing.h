#pragma once

#include <array>
#include <memory>
#include <string>

#include "acquisition/sample_list.h"
#include "acquisition/stream_recording.h"
#include "cli/commands.h"
#include "publish/publisher.h"
#include "publish/recording_publisher.h"

namespace tarvelo::cli {

// record --publish: the publisher and the sink that feeds it.
class Publishing {
public:
    // Connects to the broker of context.options.publish. False with the
    // reason and the exit status (2: the command line, 1: the broker refused
    // or the TLS connection failed).
    bool start(const Context& context, const acquisition::SampleList& captions,
               const std::array<std::string, 4>& units, std::string& error, int& status);
    acquisition::RecordingSink* sink() { return sink_.get(); }
    // Drains and disconnects; reports what was delivered on standard error.
    // True when the broker acknowledged every sample.
    bool finish(acquisition::RecordingEnd end);

private:
    std::unique_ptr<publish::Publisher> publisher_;
    std::unique_ptr<publish::RecordingPublisher> sink_;
    std::string where_;
    std::chrono::milliseconds drain_{0};
};

}  // namespace tarvelo::cli
