#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

#include "acquisition/sample_row.h"

namespace tarvelo::acquisition {

// Cuts the stream port's bytes into 48-byte records however they arrive and
// averages consecutive records into samples. No sockets: the sampling thread
// receives into receiveSpace() and hands the count to received().
//
// The number of records per sample comes from the SampleRate index, read anew
// for every record, so a change in the setup dialog applies at once. When it
// changes in the middle of a sample, the sample is completed by the first
// record that reaches the new count and its sum is divided by that count.
class StreamAssembler {
public:
    // `bufferSize` is at least one record; the rows of one takeRecords() call
    // always fit.
    StreamAssembler(const std::atomic<int32_t>& sampleRate, std::size_t bufferSize);
    StreamAssembler(const StreamAssembler&) = delete;
    StreamAssembler& operator=(const StreamAssembler&) = delete;

    // Where the next receive writes and how many bytes fit there. The room is
    // never 0: a partial record is less than the buffer.
    unsigned char* receiveSpace() { return buffer_.get() + held_; }
    std::size_t receiveRoom() const { return bufferSize_ - held_; }
    // `count` bytes (at most receiveRoom()) were written at receiveSpace().
    void received(std::size_t count);

    std::size_t heldBytes() const { return held_; }
    std::size_t wholeRecords() const { return held_ / kRecordSize; }

    // Averages every whole record held into the sample in progress and drops
    // them from the buffer; a partial record stays for the next receive.
    // rows() then holds the samples this call completed (only those).
    // Returns the records taken.
    std::size_t takeRecords();
    // Drops every whole record held without looking at it (the sample in
    // progress is kept); a partial record stays. Returns the records dropped.
    std::size_t discardRecords();

    // Time stamp of the first whole record held (not yet taken); NaN when
    // none is held.
    double firstHeldRecordTimeMs() const;
    // Time stamp of the last record taken so far; NaN before the first. Kept
    // across reset(), so the gap of a lost connection can be measured.
    double lastRecordTimeMs() const { return lastTimeMs_; }
    // Records taken into the sample in progress (lost when it is reset).
    int32_t pendingRecords() const { return k_; }

    const SampleRow* rows() const { return rows_.get(); }
    std::size_t rowCount() const { return rowCount_; }

    // Forgets the sample in progress; the bytes held stay.
    void resetSample();
    // Forgets the bytes held and the sample in progress: nothing of a partial
    // record or sample survives a lost connection.
    void reset();

private:
    void dropWholeRecords();

    const std::atomic<int32_t>& sampleRate_;
    const std::size_t bufferSize_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::unique_ptr<SampleRow[]> rows_;
    std::size_t held_ = 0;
    std::size_t rowCount_ = 0;
    int32_t lastIndex_ = -1;
    int32_t lastCount_ = 0;
    int32_t k_ = 0;
    double sums_[4] = {};
    double lastTimeMs_ = std::numeric_limits<double>::quiet_NaN();
};

}  // namespace tarvelo::acquisition
