// Reads arbitrary bytes as a recording, with one thread and with three. Both
// must agree; an accepted recording must hold its samples in time order, and
// its envelope, statistics and gaps must agree with its samples walked one
// by one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "checks.h"
#include "recording/recording_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace tarvelo::recording;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ReadOptions one;
    one.threads = 1;
    ReadOptions three;
    three.threads = 3;
    const ReadOutcome a = readRecordingBytes(bytes, one);
    const ReadOutcome b = readRecordingBytes(bytes, three);
    require(a.error == b.error);
    require(!a.cancelled && !b.cancelled);
    if (!a.recording) {
        require(!b.recording && !a.error.empty());
        return 0;
    }
    const Recording& r = *a.recording;
    require(b.recording && b.recording->size() == r.size() && r.size() > 0);
    std::size_t gap = 0;
    std::array<Extremes, 4> whole;
    for (uint64_t i = 0; i < r.size(); ++i) {
        require(b.recording->timeMs(i) == r.timeMs(i));
        for (int k = 0; k < 4; ++k) {
            const int64_t v = r.units(k, i);
            require(v == b.recording->units(k, i));
            require(v >= -kMaxUnits && v <= kMaxUnits);
            whole[k].min = i == 0 ? v : std::min(whole[k].min, v);
            whole[k].max = i == 0 ? v : std::max(whole[k].max, v);
        }
        if (i > 0) {
            const int64_t step = r.timeMs(i) - r.timeMs(i - 1);
            require(step >= 0);
            const bool isGap = r.usualStepMs() > 0 && step > 2 * r.usualStepMs();
            require(isGap == (gap < r.gaps().size() && r.gaps()[gap] == i));
            gap += isGap;
        }
    }
    require(gap == r.gaps().size());
    const auto statistics = r.statistics(0, r.size());
    require(static_cast<uint64_t>(statistics.count) == r.size());
    for (int k = 0; k < 4; ++k) {
        const Extremes e = r.extremes(k, 0, r.size());
        require(e.min == whole[k].min && e.max == whole[k].max);
        require(statistics.channels[k].minimum == Recording::toValue(e.min));
        require(statistics.channels[k].maximum == Recording::toValue(e.max));
    }
    // The columns of a view over the whole run take every sample once, in order.
    const auto columns = r.envelope(static_cast<double>(r.timeMs(0)),
                                    static_cast<double>(r.timeMs(r.size() - 1)) + 1, 37);
    uint64_t next = 0;
    for (const auto& column : columns) {
        require(column.from == next && column.to >= column.from);
        next = column.to;
    }
    require(next == r.size());
    return 0;
}
