#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/sample_list.h"
#include "acquisition/sample_row.h"

namespace tarvelo::cli {

// Where a command's samples go, chosen by the extension of --out.
enum class Target {
    Stdout,      // no --out: the export text, UTF-8, LF line ends
    SampleFile,  // .dat
    ExportFile,  // .asc: the export text as the window program writes it
    Workbook,    // .xlsx
    Csv,         // .csv
    BatchFile,   // .txt, batch only
};

// The target of `out` (Stdout when there is none); nullopt with the reason
// for an extension the command does not write.
std::optional<Target> targetFor(const std::optional<std::string>& out, bool batch,
                                std::string& error);

// The sample file holds at most this many samples.
inline constexpr std::size_t kSampleFileLimit = 10240;

// Writes `rows` (oldest first) with the captions of `captions` to the target
// in one go; files are replaced atomically. False with the reason.
bool writeRows(Target target, const std::string& path, std::span<const acquisition::SampleRow> rows,
               const acquisition::SampleList& captions, std::string& error);

// Output that grows line by line as a recording goes on: standard output, or
// a file that is written under a temporary name beside the target (".name.
// XXXXXX") and renamed to the target only when commit() has flushed it to
// the disk. An existing target is thus replaced only by a complete file, and
// a run that is killed leaves its lines in the temporary file.
class LineOutput {
public:
    LineOutput() = default;
    ~LineOutput();  // abandons an uncommitted file
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;

    // An empty path means standard output.
    bool open(const std::string& path, std::string& error);
    // Buffered; false once a write has failed.
    bool write(std::string_view bytes);
    // Writes what is buffered; for a file also flushes, closes and renames.
    bool commit(std::string& error);
    // Removes the temporary file (a file target only).
    void abandon();
    const std::string& error() const { return error_; }

private:
    bool flushBuffer();

    int fd_ = -1;
    std::string path_;
    std::string temporary_;
    std::string buffer_;
    std::string error_;
    bool failed_ = false;
};

// Progress on standard error, only when it is a terminal: one line, redrawn
// at most four times a second, ended by finish().
class Progress {
public:
    Progress();
    bool enabled() const { return enabled_; }
    void show(const std::string& text, bool force = false);
    void finish();

private:
    bool enabled_;
    bool shown_ = false;
    int64_t lastMs_ = 0;
};

}  // namespace tarvelo::cli
