#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/sample_list.h"
#include "acquisition/sample_row.h"
#include "acquisition/stream_recording.h"
#include "cli/output.h"
#include "files/record_writer.h"

namespace tarvelo::cli {

// The samples of a recording, by target:
// - standard output: written as they come, one line each;
// - .asc and .csv: handed to a RecordWriter, which formats and writes them
//   from a thread of its own and flushes them to the disk every second, into
//   a temporary file beside the target (".name.XXXXXX"). finish() renames it
//   to the target, so an existing file is replaced only by a complete run,
//   and a run that is killed leaves its samples in the temporary file;
// - .xlsx and .dat: kept, and written in one go by finish().
// Shows the progress on a terminal.
class RecordOutput : public acquisition::RecordingSink {
public:
    RecordOutput(Target target, const acquisition::RecordingPlan& plan);
    ~RecordOutput() override;  // abandons what finish() did not write

    // Creates the output and writes its header; `path` is empty for
    // standard output.
    bool open(const std::string& path, const acquisition::SampleList& captions, std::string& error);
    bool samples(const acquisition::SampleRow* rows, std::size_t n) override;
    void progress(const acquisition::RecordingProgress& now) override;
    // Writes everything to its place (`keep`), or throws the output away.
    bool finish(bool keep, std::string& error);

    const std::string& error() const { return error_; }

    // A writer queue longer than this holds the recording back (and, through
    // the connection, the instrument), rather than letting the queue grow
    // to the writer's limit and fail.
    static constexpr std::size_t kMaxPending = 64 * 1024;

private:
    // Standard output is written at least every quarter of a second.
    bool flushStdoutNowAndThen();

    Target target_;
    const acquisition::RecordingPlan& plan_;
    std::string path_;
    acquisition::SampleList captions_;
    std::unique_ptr<files::RecordWriter> writer_;
    TemporaryFile temporary_;
    LineOutput lines_;
    std::vector<acquisition::SampleRow> kept_;
    std::string text_;
    std::string error_;
    uint64_t number_ = 0;
    std::chrono::steady_clock::time_point lastFlush_{};
    Progress progress_;
};

}  // namespace tarvelo::cli
