#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarvelo::acquisition {

// One sample: the row of the measurement memory, the record of the stream and
// the row of the sample file share this 48-byte layout byte for byte
// (little-endian doubles; x86-64 and every platform we build for is).
struct SampleRow {
    double channel[4];   // channel 1..4 in the channel's unit
    double timeMs;       // milliseconds since 1970-01-01 00:00:00 of the device clock
    uint8_t deviceFlag;  // copied from the streamed record; 0 otherwise
    uint8_t padding[7];  // not significant, kept as held
};
static_assert(sizeof(SampleRow) == 48);
static_assert(offsetof(SampleRow, channel) == 0);
static_assert(offsetof(SampleRow, timeMs) == 32);
static_assert(offsetof(SampleRow, deviceFlag) == 40);
static_assert(offsetof(SampleRow, padding) == 41);

inline constexpr std::size_t kRecordSize = sizeof(SampleRow);

inline SampleRow sampleFromBytes(const unsigned char* bytes) {
    SampleRow row;
    std::memcpy(&row, bytes, sizeof row);
    return row;
}

}  // namespace tarvelo::acquisition
