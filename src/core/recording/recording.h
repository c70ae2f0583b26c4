#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/sample_row.h"
#include "analysis/statistics.h"
#include "recording/packed_column.h"

namespace tarvelo::recording {

// Exact sums of squares of many values need more than 64 bits.
__extension__ typedef __int128 Int128;

// Which program's text a recording was written as.
enum class RecordingFormat {
    ExportText,  // the window program's ".asc": tabs, "dd.mm.yyyy hh.mm.ss.mmm", Windows-1252
    Csv,         // tarvelo-cli's ".csv": commas, ISO 8601 times, UTF-8
};

// The channel values are held as whole multiples of this (the five decimals
// every writer of a recording gives), which keeps them exact.
inline constexpr int64_t kUnitsPerValue = 100000;
// The largest magnitude of a value a recording can hold, in units: nine
// digits before the point. The statistics' exact sums rely on it.
inline constexpr int64_t kMaxUnits = 999999999 * kUnitsPerValue + 99999;

// The smallest and largest value of one channel over a stretch, in units.
struct Extremes {
    int64_t min = 0;
    int64_t max = 0;
};

// What one pixel column of a view shows: the samples [from, to) whose time
// lies in the column, and per channel their smallest and largest value.
struct ColumnEnvelope {
    uint64_t from = 0;
    uint64_t to = 0;
    std::array<Extremes, 4> channel{};
    bool empty() const { return from == to; }
};

// A recording read into memory, compact and in order: the device time and
// the four values of every sample, a min/max envelope at several levels, and
// running sums per block, so that the envelope of any pixel column and the
// exact statistics of any stretch are found without walking every sample.
// Read-only once built (by readRecording), so any thread may ask it.
class Recording {
public:
    // Envelope levels: level 0 covers kLeafSize samples an entry, each level
    // above kLevelFactor times as many.
    static constexpr std::size_t kLeafShift = 6;
    static constexpr std::size_t kLeafSize = std::size_t{1} << kLeafShift;
    static constexpr std::size_t kLevelShift = 4;

    uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    RecordingFormat format() const { return format_; }
    // Captions of the time column and channels 1..4 as the header names them (UTF-8).
    const std::array<std::string, 5>& captions() const { return captions_; }
    // The file ended inside a line (a recording still being written, or cut
    // short); that line was left out.
    bool cutLastLine() const { return cutLastLine_; }

    // Device time of sample i in milliseconds since 1970-01-01 (no zone).
    int64_t timeMs(uint64_t i) const { return time_.at(i); }
    int64_t units(int channel, uint64_t i) const { return values_[channel].at(i); }
    double value(int channel, uint64_t i) const { return toValue(units(channel, i)); }
    static double toValue(int64_t units) {
        return static_cast<double>(units) / static_cast<double>(kUnitsPerValue);
    }
    // The sample as a row of the memory (flag 0).
    acquisition::SampleRow row(uint64_t i) const;

    // The first sample whose time is not before `timeMs` (size() when none).
    uint64_t lowerBound(double timeMs) const;

    // Smallest and largest value of `channel` over the samples [from, to)
    // (from < to), exact, from the envelope levels and the samples at the edges.
    Extremes extremes(int channel, uint64_t from, uint64_t to) const;

    // The envelope of `columns` pixel columns side by side, column c covering
    // the times [startMs + c * width, startMs + (c + 1) * width) with
    // width = (endMs - startMs) / columns.
    std::vector<ColumnEnvelope> envelope(double startMs, double endMs, int columns) const;

    // The statistics of the samples [from, to) as ComputeStatistics gives
    // them for the same rows, from exact sums: the count, minimum, maximum,
    // average (the sum as a float64 divided by the count) and sample
    // standard deviation.
    analysis::StatisticsResult statistics(uint64_t from, uint64_t to) const;

    // The run's usual time step (the median of the positive steps; 0 with
    // fewer than two distinct times), and the samples that follow a gap: a
    // step of more than twice the usual one, in ascending order.
    int64_t usualStepMs() const { return usualStepMs_; }
    const std::vector<uint64_t>& gaps() const { return gaps_; }
    // Whether a gap lies between samples a and b (a < b): one of a+1 .. b follows a gap.
    bool gapBetween(uint64_t a, uint64_t b) const;

    // Bytes of memory the recording holds, all of it.
    std::size_t memoryBytes() const;

private:
    friend class RecordingBuilder;

    // Running sums of one channel up to a block boundary.
    struct Sums {
        Int128 s1 = 0;
        Int128 s2 = 0;
    };

    void buildUpperLevels();
    Extremes rawExtremes(int channel, uint64_t from, uint64_t to) const;
    double runningSum(int channel, uint64_t from, uint64_t to) const;
    void rawSums(int channel, uint64_t from, uint64_t to, Int128& s1, Int128& s2) const;

    uint64_t size_ = 0;
    RecordingFormat format_ = RecordingFormat::Csv;
    std::array<std::string, 5> captions_;
    bool cutLastLine_ = false;
    std::vector<std::unique_ptr<ByteArena>> arenas_;
    PackedColumn time_;
    std::array<PackedColumn, 4> values_;
    // levels_[channel][level][entry]
    std::array<std::vector<std::vector<Extremes>>, 4> levels_;
    // prefix_[channel][b]: the sums of blocks 0 .. b-1
    std::array<std::vector<Sums>, 4> prefix_;
    int64_t usualStepMs_ = 0;
    std::vector<uint64_t> gaps_;
};

}  // namespace tarvelo::recording
