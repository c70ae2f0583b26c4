#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_row.h"

namespace tarvelo::files {

// The sample data file (".dat"), little-endian:
//   offset 0   7 bytes   "473.100" (no terminator)
//   offset 7   int32     row count N (0..10240)
//   offset 11  48 * N    the rows, oldest first, each the SampleRow byte for
//                        byte including its padding
inline constexpr std::string_view kSampleFileMagic{"473.100", 7};
inline constexpr std::size_t kSampleFileHeaderSize = 11;
// UiText entry of the load's rejection message, "File format error".
inline constexpr int kFileFormatErrorText = 12;

// The file's bytes for the memory's rows in chronological order.
std::string sampleFileBytes(const acquisition::MeasurementMemory& memory);

// Writes the file atomically: a save that fails leaves an existing file as
// it was and returns false with a reason in `error` (errno set).
bool saveSampleFile(const std::string& path, const acquisition::MeasurementMemory& memory,
                    std::string* error = nullptr);

enum class LoadError {
    None,
    IoError,      // the file could not be opened or read
    FormatError,  // wrong magic, count below 0 or above 10240, fewer rows than counted
};

struct LoadResult {
    LoadError error = LoadError::None;
    std::vector<acquisition::SampleRow> rows;  // the file's rows, oldest first
    std::string detail;                        // what was wrong, for the message box
    int errorNumber = 0;                       // the system's error (IoError), else 0
    bool ok() const { return error == LoadError::None; }
};

// Reads and checks the whole file without touching any memory. Bytes after
// the counted rows are ignored (they do no harm and earlier versions of the
// program may have left them).
//
// The window's load sequence, so that a rejected or abandoned load changes
// nothing:
//   1. result = loadSampleFile(path); on FormatError show UiText entry 12
//      ("File format error", caption "Error", stop icon) and stop; on IoError
//      show the same kind of message with the detail and stop.
//   2. If the memory is not empty, ask "Should the measured value memory be
//      deleted?"; on any answer but Yes stop.
//   3. memory.clear(), list.clear(), disable Save/Export (ClearMemory's effect).
//   4. memory.load(result.rows); list.refill(memory).
//   5. If rows were loaded, enable Save/Export.
LoadResult loadSampleFile(const std::string& path);
// The same checks on bytes already in memory.
LoadResult parseSampleFile(std::string_view bytes);

}  // namespace tarvelo::files
