#include "recording/recording.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvelo::recording {

namespace {

constexpr Extremes kNoExtremes{std::numeric_limits<int64_t>::max(),
                               std::numeric_limits<int64_t>::min()};

void merge(Extremes& into, const Extremes& e) {
    into.min = std::min(into.min, e.min);
    into.max = std::max(into.max, e.max);
}

}  // namespace

acquisition::SampleRow Recording::row(uint64_t i) const {
    acquisition::SampleRow r{};
    for (int k = 0; k < 4; ++k)
        r.channel[k] = value(k, i);
    r.timeMs = static_cast<double>(timeMs(i));
    return r;
}

uint64_t Recording::lowerBound(double timeMs) const {
    // The times never fall, so the first sample of a block is its smallest.
    const std::size_t blocks = time_.blockCount();
    std::size_t lo = 0, hi = blocks;  // the first block that starts at or after timeMs
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (static_cast<double>(time_.block(mid).base) < timeMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0)
        return 0;
    uint64_t first = (lo - 1) << PackedColumn::kBlockShift;
    uint64_t last = std::min<uint64_t>(size_, static_cast<uint64_t>(lo) << PackedColumn::kBlockShift);
    while (first < last) {
        const uint64_t mid = first + (last - first) / 2;
        if (static_cast<double>(time_.at(mid)) < timeMs)
            first = mid + 1;
        else
            last = mid;
    }
    return first;
}

Extremes Recording::rawExtremes(int channel, uint64_t from, uint64_t to) const {
    int64_t buffer[kLeafSize];
    Extremes e = kNoExtremes;
    while (from < to) {
        const uint64_t n = std::min<uint64_t>(to - from, kLeafSize);
        values_[channel].decode(from, from + n, buffer);
        for (uint64_t k = 0; k < n; ++k) {
            e.min = std::min(e.min, buffer[k]);
            e.max = std::max(e.max, buffer[k]);
        }
        from += n;
    }
    return e;
}

Extremes Recording::extremes(int channel, uint64_t from, uint64_t to) const {
    const auto& levels = levels_[channel];
    Extremes e = kNoExtremes;
    uint64_t i = from;
    while (i < to) {
        if ((i & (kLeafSize - 1)) == 0 && i + kLeafSize <= to) {
            std::size_t level = 0;
            std::size_t shift = kLeafShift;
            while (level + 1 < levels.size()) {
                const std::size_t next = shift + kLevelShift;
                const uint64_t span = uint64_t{1} << next;
                if ((i & (span - 1)) != 0 || i + span > to)
                    break;
                ++level;
                shift = next;
            }
            merge(e, levels[level][i >> shift]);
            i += uint64_t{1} << shift;
        } else {
            const uint64_t end = std::min<uint64_t>(to, (i | (kLeafSize - 1)) + 1);
            merge(e, rawExtremes(channel, i, end));
            i = end;
        }
    }
    return e;
}

std::vector<ColumnEnvelope> Recording::envelope(double startMs, double endMs, int columns) const {
    std::vector<ColumnEnvelope> result(static_cast<std::size_t>(std::max(columns, 0)));
    if (columns <= 0 || !(endMs > startMs))
        return result;
    const double width = (endMs - startMs) / columns;
    uint64_t from = lowerBound(startMs);
    for (int c = 0; c < columns; ++c) {
        // The last column takes a sample lying on the view's end too.
        const uint64_t to = c + 1 == columns ? lowerBound(std::floor(endMs) + 1.0)
                                             : lowerBound(startMs + (c + 1) * width);
        ColumnEnvelope& column = result[static_cast<std::size_t>(c)];
        column.from = from;
        column.to = std::max(from, to);
        if (!column.empty()) {
            for (int k = 0; k < 4; ++k)
                column.channel[k] = extremes(k, column.from, column.to);
        }
        from = column.to;
    }
    return result;
}

void Recording::rawSums(int channel, uint64_t from, uint64_t to, Int128& s1,
                        Int128& s2) const {
    int64_t buffer[kLeafSize];
    while (from < to) {
        const uint64_t n = std::min<uint64_t>(to - from, kLeafSize);
        values_[channel].decode(from, from + n, buffer);
        for (uint64_t k = 0; k < n; ++k) {
            s1 += buffer[k];
            s2 += static_cast<Int128>(buffer[k]) * buffer[k];
        }
        from += n;
    }
}

double Recording::runningSum(int channel, uint64_t from, uint64_t to) const {
    int64_t buffer[kLeafSize];
    double sum = 0.0;
    while (from < to) {
        const uint64_t n = std::min<uint64_t>(to - from, kLeafSize);
        values_[channel].decode(from, from + n, buffer);
        for (uint64_t k = 0; k < n; ++k)
            sum = sum + toValue(buffer[k]);
        from += n;
    }
    return sum;
}

analysis::StatisticsResult Recording::statistics(uint64_t from, uint64_t to) const {
    analysis::StatisticsResult result;
    to = std::min(to, size_);
    if (from >= to)
        return result;
    const uint64_t n = to - from;
    result.count = static_cast<int32_t>(n);
    constexpr uint64_t kBlock = PackedColumn::kBlockSize;
    const uint64_t firstFull = (from + kBlock - 1) / kBlock;
    const uint64_t endFull = to / kBlock;
    for (int k = 0; k < 4; ++k) {
        Int128 s1 = 0, s2 = 0;
        if (firstFull < endFull) {
            const Sums& a = prefix_[k][firstFull];
            const Sums& b = prefix_[k][endFull];
            s1 = b.s1 - a.s1;
            s2 = b.s2 - a.s2;
            rawSums(k, from, firstFull * kBlock, s1, s2);
            rawSums(k, endFull * kBlock, to, s1, s2);
        } else {
            rawSums(k, from, to, s1, s2);
        }
        const Extremes e = extremes(k, from, to);
        auto& ch = result.channels[static_cast<std::size_t>(k)];
        // A recording holds no value that could not be read: every sample counts.
        ch.count = static_cast<int32_t>(n);
        ch.minimum = toValue(e.min);
        ch.maximum = toValue(e.max);
        // The sum held as a float64, then divided by the count: what the
        // running sum gives, without its rounding on the way. Where the exact
        // average lies on (or within a hair of) the middle between two
        // printed last digits, which way it prints depends on that rounding:
        // then the float64 running sum is taken sample by sample, so the
        // average prints as ComputeStatistics prints it.
        const Int128 count2 = 2 * static_cast<Int128>(n);
        Int128 rest = (2 * s1) % count2;
        if (rest < 0)
            rest += count2;
        const Int128 off = rest > static_cast<Int128>(n) ? rest - static_cast<Int128>(n)
                                                         : static_cast<Int128>(n) - rest;
        if (off * 1000000 <= count2) {
            ch.sum = runningSum(k, from, to);
        } else {
            ch.sum = static_cast<double>(static_cast<long double>(s1) / kUnitsPerValue);
        }
        ch.average = ch.sum / static_cast<double>(n);
        if (n < 2)
            continue;
        if (e.min == e.max) {
            ch.deviation = 0.0;
            continue;
        }
        // Sums about c, the mean cut to a whole unit, stay exact and small:
        // e = sum(u - c), d = sum((u - c)^2); the variance is
        // (d - e^2 / n) / (n - 1), free of the one-pass formula's cancellation.
        const Int128 count = static_cast<Int128>(n);
        const Int128 c = s1 / count;
        const Int128 eSum = s1 - count * c;
        const Int128 d = s2 - 2 * c * s1 + count * c * c;
        const long double ln = static_cast<long double>(n);
        const long double le = static_cast<long double>(eSum);
        long double variance = (static_cast<long double>(d) - le * le / ln) / (ln - 1.0L);
        if (variance < 0.0L)
            variance = 0.0L;
        variance /= static_cast<long double>(kUnitsPerValue) * kUnitsPerValue;
        ch.deviation = static_cast<double>(std::sqrt(variance));
    }
    return result;
}

bool Recording::gapBetween(uint64_t a, uint64_t b) const {
    const auto it = std::lower_bound(gaps_.begin(), gaps_.end(), a + 1);
    return it != gaps_.end() && *it <= b;
}

void Recording::buildUpperLevels() {
    for (auto& levels : levels_) {
        while (!levels.empty() && levels.back().size() > 1) {
            const auto& below = levels.back();
            std::vector<Extremes> above((below.size() + (1u << kLevelShift) - 1) >> kLevelShift,
                                        kNoExtremes);
            for (std::size_t i = 0; i < below.size(); ++i)
                merge(above[i >> kLevelShift], below[i]);
            levels.push_back(std::move(above));
        }
    }
}

std::size_t Recording::memoryBytes() const {
    std::size_t bytes = sizeof(*this) + gaps_.capacity() * sizeof(uint64_t);
    for (const auto& arena : arenas_)
        bytes += arena->bytesHeld();
    bytes += (time_.blockCount() * 5) * sizeof(PackedColumn::Block);
    for (int k = 0; k < 4; ++k) {
        bytes += prefix_[k].capacity() * sizeof(Sums);
        for (const auto& level : levels_[k])
            bytes += level.capacity() * sizeof(Extremes);
    }
    return bytes;
}

}  // namespace tarvelo::recording
