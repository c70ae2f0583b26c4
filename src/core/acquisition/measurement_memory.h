#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/sample_row.h"

namespace tarvelo::acquisition {

inline constexpr int32_t kMemoryCapacity = 10240;

// Position and wrap state taken together under the memory's lock.
struct MemoryState {
    int32_t writePosition = 0;
    bool wrapped = false;
    // 10240 when wrapped, else writePosition.
    int32_t rowCount() const { return wrapped ? kMemoryCapacity : writePosition; }
    bool empty() const { return rowCount() == 0; }
};

// The one store of measured samples: a ring of 10240 rows allocated once.
// The sampling thread appends while the user-interface thread reads and
// writes, so every operation takes the memory's lock; readers get consistent
// snapshots. Appends never allocate.
class MeasurementMemory {
public:
    MeasurementMemory();

    // Program start and the probe's first step: WritePosition 0, not wrapped,
    // rows zero.
    void reset();

    // Writes the row at WritePosition, advances it and wraps at 10240.
    // Returns WritePosition after the advance and before the wrap (10240 for
    // the append that wraps): the count the sampling status shows.
    // A load of exactly 10240 rows leaves WritePosition at 10240 without the
    // wrap: the next append then wraps first and writes row 0, so the appended
    // row is the newest and nothing outside the ring is written.
    int32_t AppendSample(const SampleRow& row);
    // Appends rows[0..n-1] in order under one lock, with the effect of n
    // AppendSample calls; the sampling thread stores a whole receive at once.
    // Returns the count the first of those calls would have returned (the
    // next ones follow as count % 10240 + 1), 0 when n <= 0. With
    // `refuseWhenFullUnwrapped` nothing is written and 0 is returned when the
    // memory is full without the wrap.
    int32_t AppendSamples(const SampleRow* rows, int32_t n, bool refuseWhenFullUnwrapped);

    MemoryState state() const;
    int32_t RowCount() const { return state().rowCount(); }
    int32_t WritePosition() const { return state().writePosition; }
    bool Wrapped() const { return state().wrapped; }

    // ClearMemory's effect on the memory: WritePosition 0, not wrapped, rows
    // left in place.
    void clear();

    // Replaces the content by `rows` (at most 10240): rows 0..n-1,
    // WritePosition n, not wrapped.
    void load(const std::vector<SampleRow>& rows);

    SampleRow row(int32_t index) const;

    // The rows in chronological order (oldest first) with the state they were
    // taken at, all under one lock.
    struct Snapshot {
        MemoryState state;
        std::vector<SampleRow> rows;          // chronological
        std::vector<int32_t> ringIndex;       // ring index of each row, if requested
    };
    Snapshot snapshot(bool withRingIndex = false) const;
    // Reuses `out`'s storage: for the periodic graph refresh.
    MemoryState copyChronological(std::vector<SampleRow>& out) const;

    // The newest row (at WritePosition - 1) when WritePosition > 0.
    bool newestRow(SampleRow& out) const;

    // Unit texts (UTF-8) of channels 1..4 as last reported by the device.
    std::string channelUnit(int channel) const;
    void setChannelUnit(int channel, std::string unit);

private:
    mutable std::mutex mutex_;
    std::unique_ptr<std::array<SampleRow, kMemoryCapacity>> rows_;
    MemoryState state_;
    std::array<std::string, 4> units_;
};

}  // namespace tarvelo::acquisition
