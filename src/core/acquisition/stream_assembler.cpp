#include "acquisition/stream_assembler.h"

#include <cstring>
#include <limits>

#include "app/settings.h"

namespace tarvelo::acquisition {

StreamAssembler::StreamAssembler(const std::atomic<int32_t>& sampleRate, std::size_t bufferSize)
    : sampleRate_(sampleRate),
      bufferSize_(bufferSize < kRecordSize ? kRecordSize : bufferSize),
      buffer_(std::make_unique_for_overwrite<unsigned char[]>(bufferSize_)),
      rows_(std::make_unique<SampleRow[]>(bufferSize_ / kRecordSize + 1)) {}

void StreamAssembler::received(std::size_t count) {
    held_ += count < receiveRoom() ? count : receiveRoom();
}

void StreamAssembler::resetSample() {
    k_ = 0;
    for (double& sum : sums_)
        sum = 0;
}

void StreamAssembler::reset() {
    held_ = 0;
    rowCount_ = 0;
    resetSample();
}

void StreamAssembler::dropWholeRecords() {
    const std::size_t used = wholeRecords() * kRecordSize;
    std::memmove(buffer_.get(), buffer_.get() + used, held_ - used);
    held_ -= used;
}

double StreamAssembler::firstHeldRecordTimeMs() const {
    double time = std::numeric_limits<double>::quiet_NaN();
    if (wholeRecords() > 0)
        std::memcpy(&time, buffer_.get() + offsetof(SampleRow, timeMs), sizeof time);
    return time;
}

std::size_t StreamAssembler::discardRecords() {
    const std::size_t records = wholeRecords();
    rowCount_ = 0;
    dropWholeRecords();
    return records;
}

std::size_t StreamAssembler::takeRecords() {
    const std::size_t count = wholeRecords();
    const unsigned char* bytes = buffer_.get();
    // Worked on in locals: the stores into the rows would otherwise force
    // every member back to memory on each record.
    int32_t k = k_;
    double sums[4] = {sums_[0], sums_[1], sums_[2], sums_[3]};
    SampleRow* row = rows_.get();
    for (std::size_t i = 0; i < count; ++i, bytes += kRecordSize) {
        // Read for every record: a change in the setup dialog applies at once.
        // lastCount_ is 0 only before the first record: an index of -1 in
        // the settings must not pass for the one already looked up.
        const int32_t index = sampleRate_.load(std::memory_order_relaxed);
        if (index != lastIndex_ || lastCount_ == 0) {
            lastIndex_ = index;
            lastCount_ = app::recordsPerSample(index);
        }
        const int32_t n = lastCount_;
        double value[4];
        std::memcpy(value, bytes, sizeof value);
        if (++k < n) {
            for (int c = 0; c < 4; ++c)
                sums[c] += value[c];
            continue;
        }

        // The record completes the sample. When the index was changed in the
        // middle of a sample, k may exceed N: the sum is still divided by the
        // N read for this record.
        if (n == 1) {
            std::memcpy(row->channel, value, sizeof value);
        } else {
            for (int c = 0; c < 4; ++c)
                row->channel[c] = (sums[c] + value[c]) / n;
        }
        // Time stamp and flag of the last record; the padding is not taken over.
        std::memcpy(&row->timeMs, bytes + offsetof(SampleRow, timeMs), sizeof row->timeMs);
        row->deviceFlag = bytes[offsetof(SampleRow, deviceFlag)];
        std::memset(row->padding, 0, sizeof row->padding);
        ++row;
        k = 0;
        for (double& sum : sums)
            sum = 0;
    }
    k_ = k;
    for (int c = 0; c < 4; ++c)
        sums_[c] = sums[c];
    if (count > 0)
        std::memcpy(&lastTimeMs_, bytes - kRecordSize + offsetof(SampleRow, timeMs),
                    sizeof lastTimeMs_);
    rowCount_ = static_cast<std::size_t>(row - rows_.get());
    dropWholeRecords();
    return count;
}

}  // namespace tarvelo::acquisition
