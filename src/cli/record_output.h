#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/sample_row.h"
#include "acquisition/stream_recording.h"
#include "cli/output.h"

namespace tarvelo::cli {

// The samples of a recording: written as they come, one line each, to
// standard output, an .asc or a .csv file (through `lines`), or kept for one
// write at the end (.xlsx, .dat; `lines` null). Shows the progress on a
// terminal.
class RecordOutput : public acquisition::RecordingSink {
public:
    RecordOutput(Target target, LineOutput* lines, const acquisition::RecordingPlan& plan);

    bool samples(const acquisition::SampleRow* rows, std::size_t n) override;
    void progress(const acquisition::RecordingProgress& now) override;

    void finishProgress() { progress_.finish(); }
    std::vector<acquisition::SampleRow>& kept() { return kept_; }
    const std::string& error() const { return error_; }

private:
    Target target_;
    LineOutput* lines_;
    const acquisition::RecordingPlan& plan_;
    std::vector<acquisition::SampleRow> kept_;
    std::string text_;
    std::string error_;
    uint64_t number_ = 0;
    Progress progress_;
};

}  // namespace tarvelo::cli
