#pragma once

#include <cstdint>
#include <string>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_row.h"

namespace tarvelo::device {
class DeviceLink;
}

namespace tarvelo::acquisition {

// What a batch readout shows while it runs; the main window and the progress
// window implement it. Both readouts run on the user-interface thread and
// block it, so the window repaints in these calls.
class BatchUi {
public:
    virtual ~BatchUi() = default;
    // Message box with `text` (one of device::kErrM01 .. kErrM6), caption
    // "Error", stop icon. The readout goes on after it, except for kErrM01.
    virtual void error(const char* text) = 0;
    // Batch to file only: show the progress window, bar 0..maximum.
    virtual void progressStart(int maximum) { (void)maximum; }
    // Batch to file only: the bar's position after each record.
    virtual void progress(int position) { (void)position; }
    // Batch to file only, after progressStart: hide the progress window.
    virtual void progressFinish() {}
    // Batch to memory only: `row` has just been appended to the memory; the
    // window adds its list row (AddSampleListRow).
    virtual void rowAppended(const SampleRow& row) = 0;
};

// The header line of the batch file (24 columns, no line end).
extern const char* const kBatchFileHeader;

// Batch to memory: "#M01" gives N; records 0..N become rows of the memory and
// of the list (through BatchUi::rowAppended), each from "#M11"+i and "#M40"+i
// (one connection per query). A query that fails leaves its fields zero; the
// row is still appended with DeviceFlag 0. When a connection cannot be opened
// the readout stops there, keeping the records read before. Returns whether
// any row was appended (the window then enables Save and Export).
bool batchToMemory(device::DeviceLink& link, MeasurementMemory& memory, BatchUi& ui);

enum class BatchFileResult {
    NoConnection,  // a connection could not be opened, for "#M01" or during the
                   // readout: no file written, an existing one left as it was
    CountError,    // "#M01" answered wrongly: message shown, nothing written
    Written,       // the file holds the header and one line per record
    WriteFailed,   // the records were read but the file could not be written;
                   // an existing file is left as it was
};

// Batch to file: "#M01" gives N; the progress runs 0..N+1; per record the
// queries "#M40", "#M11", "#M21", "#M31" and, when the batch text is not
// empty, "#M51".."#M54" and "#M61".."#M64" (one connection each). Lines are
// tab-separated and end with CR LF; the file is Windows-1252 and replaced
// atomically at the end. The measurement memory is not touched. On
// WriteFailed, `error` says why.
BatchFileResult batchToFile(device::DeviceLink& link, const std::string& path, BatchUi& ui,
                            std::string* error = nullptr);

}  // namespace tarvelo::acquisition
