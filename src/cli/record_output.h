#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "acquisition/sample_list.h"
#include "acquisition/sample_row.h"
#include "acquisition/stream_recording.h"
#include "cli/output.h"
#include "files/record_writer.h"

namespace tarvelo::cli {

// What a run's end leaves of its file.
enum class RunEnd {
    Nothing,   // the run failed before anything was recorded: no file is left
    Complete,  // it ended as asked (its end, a size limit, a signal): FILE
    Partial,   // the instrument vanished or stalled, or a write failed: FILE.part
};

// The samples of a recording, by target:
// - standard output (and a pipe, a terminal or a symbolic link named by
//   --out): written in place as they come;
// - a file: written as they come into FILE.part beside it (.asc and .csv as
//   their lines, .dat as the sample file with its row count kept up to date,
//   .xlsx as export text lines), by a RecordWriter on a thread of its own
//   that flushes them to the disk every second. A complete end gives the
//   file its name (a workbook is then made from the export text), so an
//   existing FILE is replaced only by a complete run; any other end leaves
//   FILE.part with every whole line written. Memory does not grow with the
//   run.
// Shows the progress on a terminal.
class RecordOutput : public acquisition::RecordingSink {
public:
    // `splitMs` > 0 starts a new file every that many ms of device time:
    // FILE-0001.ext, FILE-0002.ext, ..., each renamed from its .part as soon
    // as the next one begins.
    RecordOutput(Target target, const acquisition::RecordingPlan& plan, int64_t splitMs = 0);
    ~RecordOutput() override;  // leaves what finish() did not as a partial run

    // Creates the output and writes its header; `path` is empty for
    // standard output. Refuses a FILE.part that is already there: it holds
    // an earlier run's samples.
    bool open(const std::string& path, const acquisition::SampleList& captions, std::string& error);
    bool samples(const acquisition::SampleRow* rows, std::size_t n) override;
    void progress(const acquisition::RecordingProgress& now) override;
    // Reports the gap on standard error.
    void interrupted(const acquisition::RecordingGap& gap) override;
    // Writes what waits and leaves the file as `end` says. False with the
    // reason when the file could not be completed; what was written then
    // stays in keptName().
    bool finish(RunEnd end, std::string& error);

    // After finish(): the samples in the output, and where they are (the
    // file asked for, FILE.part or "standard output"; empty when nothing is
    // left).
    uint64_t kept() const { return kept_; }
    const std::string& keptName() const { return keptName_; }
    // Files of a split run completed and renamed before the current one.
    uint64_t completedFiles() const { return fileIndex_ - 1; }
    // Why samples() refused.
    const std::string& error() const { return error_; }

    // A writer queue longer than this holds the recording back (and, through
    // the connection, the instrument), rather than letting the queue grow
    // to the writer's limit and fail.
    static constexpr std::size_t kMaxPending = 64 * 1024;

    // The name of file `index` (from 1) of a split recording to `path`.
    static std::string splitName(const std::string& path, uint64_t index);

private:
    bool openFile(const std::string& path, std::string& error);
    bool append(const acquisition::SampleRow* rows, std::size_t n);
    // Ends the current file of a split run and opens the next.
    bool nextFile();
    // Standard output is written at least every quarter of a second.
    bool flushStdoutNowAndThen();
    bool completeFile(std::string& error);

    Target target_;
    const acquisition::RecordingPlan& plan_;
    std::string path_;  // the file asked for (of a split run: the current one)
    std::string base_;  // --out
    int64_t splitMs_ = 0;
    uint64_t fileIndex_ = 1;
    double fileEndMs_ = 0;  // device time at which the current file ends
    bool started_ = false;
    std::string work_;  // the file written while the run goes on
    bool inPlace_ = false;
    acquisition::SampleList captions_;
    std::unique_ptr<files::RecordWriter> writer_;
    LineOutput lines_;
    std::string text_;
    std::string error_;
    uint64_t number_ = 0;
    uint64_t kept_ = 0;
    std::string keptName_;
    bool finished_ = false;
    std::chrono::steady_clock::time_point lastFlush_{};
    Progress progress_;
};

// Whether `path` is written in place rather than replaced: a symbolic link
// (through it), a pipe, a terminal or another device.
bool writtenInPlace(const std::string& path);

}  // namespace tarvelo::cli
