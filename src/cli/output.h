#pragma once

#include <cstdint>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/sample_list.h"
#include "acquisition/sample_row.h"
#include "files/workbook.h"

namespace tarvelo::cli {

// Where a command's samples go, chosen by the extension of --out.
enum class Target {
    Stdout,      // no --out or --out -: the export text, UTF-8, LF line ends
    StdoutCsv,   // --out - --format csv: comma-separated values, CR LF line ends
    SampleFile,  // .dat
    ExportFile,  // .asc: the export text as the window program writes it
    Workbook,    // .xlsx
    Csv,         // .csv
    BatchFile,   // .txt, batch only
};

// The target of `out` (standard output when there is none or it is "-",
// in `format`); nullopt with the reason for an extension the command does
// not write.
std::optional<Target> targetFor(const std::optional<std::string>& out,
                                const std::optional<std::string>& format, bool batch,
                                std::string& error);

inline bool isStdout(Target target) {
    return target == Target::Stdout || target == Target::StdoutCsv;
}

// The sample file holds at most this many samples, a workbook this many data
// rows (below its header row).
inline constexpr std::size_t kWorkbookLimit = files::kWorkbookRowLimit;

inline constexpr std::size_t kSampleFileLimit = 10240;

// Writes `rows` (oldest first) with the captions of `captions` to the target
// in one go; files are replaced atomically. False with the reason.
bool writeRows(Target target, const std::string& path, std::span<const acquisition::SampleRow> rows,
               const acquisition::SampleList& captions, std::string& error);

// Standard output for text that grows as a recording goes on: buffered, and
// written in pieces of 64 KiB. Only whole lines are handed over; when
// standard output is a file and a write fails part-way (a full disk), the
// file is cut back to its last whole line.
class LineOutput {
public:
    LineOutput();
    // `bytes` holds `lines` whole sample lines, or (0) header lines. False
    // once a write has failed.
    bool write(std::string_view bytes, uint64_t lines = 0);
    // Writes what is buffered.
    bool flush(std::string& error);
    const std::string& error() const { return error_; }
    // Lines that reached standard output.
    uint64_t written() const { return written_; }

private:
    bool writeBuffer();

    std::string buffer_;
    uint64_t bufferedLines_ = 0;
    uint64_t bufferedHeaders_ = 0;  // lines in the buffer that hold no sample
    uint64_t written_ = 0;
    std::string error_;
    bool failed_ = false;
    bool regularFile_ = false;
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
