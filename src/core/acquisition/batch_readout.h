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
// window implement it (from a thread of their own, posting to the windows).
class BatchUi {
public:
    virtual ~BatchUi() = default;
    // Message box with `text` (one of device::kErrM01 .. kErrM6), caption
    // "Error", stop icon. The readout goes on after it, except for kErrM01.
    virtual void error(const char* text) = 0;
    // Once "#M01" has given N: the progress runs 0..maximum (N + 1 records).
    virtual void progressStart(int maximum) { (void)maximum; }
    // The records read so far, after each record.
    virtual void progress(int position) { (void)position; }
    // After progressStart, when the readout ends however it ends.
    virtual void progressFinish() {}
    // Asked before every exchange: true ends the readout there, so a cancel
    // takes effect once the exchange in progress is over.
    virtual bool cancelRequested() { return false; }
    // Batch to memory only: `row` has just been appended to the memory; the
    // window adds its list row (AddSampleListRow).
    virtual void rowAppended(const SampleRow& row) = 0;
};

// How a readout ended, and how far it came.
enum class BatchEnd {
    Complete,   // every record was read
    NoCount,    // "#M01" could not be exchanged or answered wrongly
    Cancelled,  // the operator cancelled it
    Lost,       // a connection could not be opened during the readout, or
                // kSilentQueriesLost queries in a row got no reply (`silent`)
};
struct BatchSummary {
    BatchEnd end = BatchEnd::NoCount;
    int64_t records = 0;  // N + 1, once "#M01" has answered
    int64_t read = 0;     // records read whole (rows appended, or lines made)
    bool silent = false;  // Lost because the instrument stopped answering
                          // (it still accepted connections)
};

// The header line of the batch file (24 columns, no line end).
extern const char* const kBatchFileHeader;

// A query whose command went out but which got not a single byte back within
// the receive time-out shows no message; this many of them in a row mean the
// instrument is lost, as when a connection cannot be opened.
inline constexpr int kSilentQueriesLost = 3;

// Batch to memory: "#M01" gives N; records 0..N become rows of the memory and
// of the list (through BatchUi::rowAppended), each from "#M11"+i and "#M40"+i
// (one connection per query). A query that fails leaves its fields
// not-a-number (channel values or TimeMs); the row is still appended with
// DeviceFlag 0. When the instrument is lost or the operator cancels, the
// readout stops there, keeping the records read before (a record begun is
// not stored). Returns whether any row was appended; `summary` tells how it
// ended.
bool batchToMemory(device::DeviceLink& link, MeasurementMemory& memory, BatchUi& ui,
                   BatchSummary* summary = nullptr);

enum class BatchFileResult {
    NoConnection,  // a connection could not be opened, for "#M01" or during the
                   // readout: no file written, an existing one left as it was
    CountError,    // "#M01" answered wrongly: message shown, nothing written
    Written,       // the file holds the header and one line per record
    WriteFailed,   // the records were read but the file could not be written;
                   // an existing file is left as it was
    Cancelled,     // the operator cancelled: no file written, an existing one
                   // left as it was
    PartWritten,   // lost or cancelled with EarlyEnd::WriteRecordsRead: the file
                   // holds the header and the records read whole
};

// What Batch to file does with the records read when the readout ends early.
enum class EarlyEnd {
    WriteNothing,      // the file is not written (an existing one stays)
    WriteRecordsRead,  // the records read whole are written (PartWritten)
};

// Batch to file: "#M01" gives N; the progress runs 0..N+1; per record the
// queries "#M40", "#M11", "#M21", "#M31" and, when the batch text is not
// empty, "#M51".."#M54" and "#M61".."#M64" (one connection each). Lines are
// tab-separated and end with CR LF; the file is Windows-1252 and replaced
// atomically at the end. The measurement memory is not touched. On
// WriteFailed, `error` says why, errno holds the system's error, and
// `summary` says whether the readout was whole.
BatchFileResult batchToFile(device::DeviceLink& link, const std::string& path, BatchUi& ui,
                            std::string* error = nullptr, BatchSummary* summary = nullptr,
                            EarlyEnd earlyEnd = EarlyEnd::WriteNothing);

}  // namespace tarvelo::acquisition
