#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "acquisition/sample_row.h"

namespace tarvelo::acquisition {
class SampleList;
}

namespace tarvelo::files {

// Appends one text line per sample to a file (or a pipe, a terminal: what
// cannot be flushed to a disk is not) from a thread of its own, so
// that the producer (the sampling thread) never waits on the disk.
//
// The producer hands samples over with append(); they wait in a queue that
// the writer thread takes at least every kWriteInterval, formats into whole
// lines and writes with one write() per batch, so the file only ever grows by
// whole lines. The data reaches the disk (fdatasync) at least every
// kSyncInterval and at close().
//
// Memory is bounded: when more than `maxQueued` samples wait (the disk has
// fallen minutes behind), the recording fails instead of growing without end
// or blocking the producer. After a failure further samples are dropped; the
// file keeps every whole line written before it (a batch that fails part-way
// keeps the lines that went out whole), with no gap and no doubled line, and
// written() counts them.
class RecordWriter {
public:
    // Appends the whole line of the sample numbered `number` (1, 2, ... in
    // order of append) to `out`, encoded as the file wants it, line end
    // included. Called on the writer thread only.
    using LineFormatter =
        std::function<void(std::string& out, uint64_t number, const acquisition::SampleRow& row)>;
    // A header that counts the lines (the sample file's row count): given the
    // lines in the file, it returns the header, always of the same size. It
    // is written over the old one after every batch of lines, so the header
    // never counts a line the file does not hold.
    using HeaderFormatter = std::function<std::string(uint64_t lines)>;

    static constexpr std::chrono::milliseconds kWriteInterval{250};
    static constexpr std::chrono::milliseconds kSyncInterval{1000};
    // About 12 MiB of rows: over four minutes of the fastest instrument rate.
    static constexpr std::size_t kDefaultMaxQueued = 256 * 1024;

    RecordWriter() = default;
    ~RecordWriter();  // close()
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Creates or truncates `path`, writes `header` (already encoded, ending
    // with its line end) and starts the writer thread. False with a reason in
    // `error` when the file cannot be created or the header not written (a
    // writer is opened once).
    bool open(const std::string& path, std::string header, LineFormatter formatLine,
              std::string* error = nullptr, std::size_t maxQueued = kDefaultMaxQueued);
    // Before open(): the header is rewritten with the line count as it grows.
    void setCountingHeader(HeaderFormatter header) { countingHeader_ = std::move(header); }

    // Hands samples to the writer. Returns at once: only a lock and a copy
    // into the queue; never waits for the disk. Dropped after a failure or
    // before open().
    void append(const acquisition::SampleRow& row) { append(&row, 1); }
    void append(const acquisition::SampleRow* rows, std::size_t n);

    // Writes everything appended, flushes it to the disk, closes the file and
    // ends the thread. False with the reason when any write failed. Safe to
    // call more than once; later calls repeat the outcome.
    bool close(std::string* error = nullptr);

    bool isOpen() const { return open_.load(); }
    // A write failed (or the queue overflowed); the reason is in error().
    bool failed() const { return failed_.load(); }
    std::string error() const;
    const std::string& path() const { return path_; }
    // Sample lines in the file so far (the header not counted).
    uint64_t written() const { return written_.load(); }
    // Samples handed over so far, the dropped ones not counted.
    uint64_t appended() const { return appended_.load(); }

private:
    void run();
    void fail(std::string reason);
    // Writes all of `bytes`; false with the reason on error.
    bool writeAll(const std::string& bytes, std::string* reason);
    // Writes all of `bytes`; false (errno set) on error, `done` bytes went out.
    bool writeSome(const std::string& bytes, std::size_t& done);

    std::string path_;
    LineFormatter formatLine_;
    HeaderFormatter countingHeader_;
    std::size_t maxQueued_ = kDefaultMaxQueued;
    int fd_ = -1;
    off_t size_ = 0;  // bytes of whole lines in the file; writer thread only
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<acquisition::SampleRow> queue_;  // guarded by mutex_
    bool closing_ = false;                       // guarded by mutex_
    std::string error_;                          // guarded by mutex_
    bool closed_ = false;                        // close() has run; guarded by closeMutex_
    std::mutex closeMutex_;

    std::atomic<bool> open_{false};
    std::atomic<bool> failed_{false};
    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> appended_{0};
};

// The export text file (".asc") written line by line: the header line in
// Windows-1252 bytes and the formatter of its sample lines, the same lines
// exportText() builds.
std::string exportHeaderBytes(const acquisition::SampleList& list);
RecordWriter::LineFormatter exportLineFormatter(char decimalSeparator);

}  // namespace tarvelo::files
