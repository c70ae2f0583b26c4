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

// Standard output for text that grows as a recording goes on: buffered, and
// written in pieces of 64 KiB.
class LineOutput {
public:
    // False once a write has failed.
    bool write(std::string_view bytes);
    // Writes what is buffered.
    bool flush(std::string& error);
    // Forgets what is buffered.
    void discard() { buffer_.clear(); }
    const std::string& error() const { return error_; }

private:
    bool writeBuffer();

    std::string buffer_;
    std::string error_;
    bool failed_ = false;
};

// A file written under a temporary name beside its target (".name.XXXXXX")
// and renamed to the target once complete and flushed to the disk: the target
// is at any moment the old file or the complete new one.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { abandon(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the empty temporary file for `target`.
    bool create(const std::string& target, std::string& error);
    const std::string& path() const { return temporary_; }
    // Flushes the temporary file to the disk, gives it the target's
    // permissions (an existing target's, or 0666 minus the umask) and renames
    // it to the target.
    bool commit(std::string& error);
    // Removes the temporary file.
    void abandon();

private:
    std::string target_;
    std::string temporary_;
};

// Progress on standard error, only when it is a terminal: one line, redrawn
// at most four times a second, ended by finish().
class Progress {
public:
    Progress();
    bool enabled() const { return enabled_; }
    void disable() { enabled_ = false; }
    void show(const std::string& text, bool force = false);
    void finish();

private:
    bool enabled_;
    bool shown_ = false;
    int64_t lastMs_ = 0;
};

}  // namespace tarvelo::cli
