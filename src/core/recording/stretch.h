#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_row.h"
#include "recording/recording.h"

namespace tarvelo::recording {

// A stretch of a recording, the samples [from, to), as rows of the sample
// memory, oldest first. Each row holds the sample's device time (whole
// milliseconds, exact in the row's float64) and its four values (the
// recording's five decimals, as a sample file read back holds them); the
// flag is 0. The memory keeps a time per row and no rate of its own, so a
// recording of any rate, and a gap inside the stretch (a jump of the time
// from one row to the next), are kept as they are: no row is invented,
// averaged or left out.
struct MemoryStretch {
    uint64_t samples = 0;  // in the stretch
    bool fits = false;     // at most `limit` samples (an empty stretch fits)
    std::vector<acquisition::SampleRow> rows;  // the rows, when it fits
    // When it does not fit: how many times fewer samples a stretch must hold
    // (samples / limit, above 1).
    double zoomFactor = 1.0;
    // ... and the longest time span that holds at most `limit` samples: at
    // the run's usual step, or less where the stretch is denser than that.
    double fittingSpanMs = 0.0;
};

MemoryStretch stretchToMemory(const Recording& recording, uint64_t from, uint64_t to,
                              uint64_t limit = acquisition::kMemoryCapacity);

// The formats a stretch is written in, told by the file's extension.
enum class StretchFormat {
    ExportText,  // ".asc": the export text of the window program, Windows-1252, CR LF
    Csv,         // ".csv": comma-separated values as tarvelo-cli writes them, UTF-8
    Workbook,    // ".xlsx": the export's workbook
};
// The format of `path`'s extension (any case); none for another one.
std::optional<StretchFormat> stretchFormatFor(const std::string& path);

struct StretchExport {
    enum class Result {
        Written,
        TooManyRows,  // a workbook: more than files::kWorkbookRowLimit; nothing was written
        Failed,       // the write failed; an existing file stays as it was
        Cancelled,    // stopped on request; an existing file stays as it was
    };
    Result result = Result::Written;
    uint64_t rows = 0;      // samples in the stretch
    std::string error;      // the reason of a failed write (English)
    int errorNumber = 0;    // the system's error of a failed write, 0 when none
};

struct ExportOptions {
    // Called on the writing thread now and then with the share done (0..1).
    std::function<void(double)> progress;
    // Set from any thread to stop the writing soon.
    const std::atomic<bool>* cancel = nullptr;
};

// Writes the samples [from, to) to `path`, numbered from 1, with the
// recording's captions in the header, replacing the file atomically. The
// export text gives its values with `decimalSeparator` (the regional one, as
// the program's export does); the CSV and the workbook always with ".".
// Long stretches are written as they are formatted, never whole in memory
// (a workbook excepted, which its row limit keeps small).
StretchExport exportStretch(const Recording& recording, uint64_t from, uint64_t to,
                            StretchFormat format, const std::string& path, char decimalSeparator,
                            const ExportOptions& options = {});

}  // namespace tarvelo::recording
