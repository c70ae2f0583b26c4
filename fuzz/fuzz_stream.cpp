// Feeds arbitrary bytes to the sampling thread's record assembly as the
// stream port would deliver them: cut into receives of any size, with a small
// receive buffer so that partial records are carried over and the buffer
// fills up. The samples must not depend on how the bytes were cut: a run in
// pieces gives the same rows, byte for byte, as one run over all bytes. A
// third run changes the sample rate, discards and reconnects between receives.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "checks.h"
#include "acquisition/sample_row.h"
#include "acquisition/stream_assembler.h"
#include "app/settings.h"

namespace {

using tarvelo::acquisition::kRecordSize;
using tarvelo::acquisition::SampleRow;
using tarvelo::acquisition::StreamAssembler;

void collect(const StreamAssembler& stream, std::vector<SampleRow>& out) {
    out.insert(out.end(), stream.rows(), stream.rows() + stream.rowCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    // Mostly the short intervals, which complete samples from few bytes;
    // indices outside 0..12 count as the default.
    const int32_t rateIndex =
        data[0] < 0xF0 ? data[0] % 4 : static_cast<int32_t>(data[0] & 0x0F) - 2;
    const std::size_t smallBuffer = kRecordSize + data[1] % 160;
    const uint8_t* bytes = data + 2;
    const std::size_t length = size - 2;
    const std::size_t records = length / kRecordSize;
    std::atomic<int32_t> rate{rateIndex};

    // All at once.
    StreamAssembler whole(rate, length + 1);
    std::memcpy(whole.receiveSpace(), bytes, length);
    whole.received(length);
    require(whole.takeRecords() == records);
    require(whole.heldBytes() == length % kRecordSize);
    std::vector<SampleRow> expected;
    collect(whole, expected);

    const std::size_t n = static_cast<std::size_t>(tarvelo::app::recordsPerSample(rateIndex));
    require(expected.size() == records / n);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        // Time stamp and flag of the sample's last record, no padding.
        const uint8_t* last = bytes + ((i + 1) * n - 1) * kRecordSize;
        require(std::memcmp(&expected[i].timeMs, last + offsetof(SampleRow, timeMs), 8) == 0);
        require(expected[i].deviceFlag == last[offsetof(SampleRow, deviceFlag)]);
        for (uint8_t pad : expected[i].padding)
            require(pad == 0);
    }

    // In pieces whose sizes come from the data itself.
    StreamAssembler pieces(rate, smallBuffer);
    std::vector<SampleRow> got;
    std::size_t taken = 0;
    for (std::size_t at = 0, i = 0; at < length; ++i) {
        require(pieces.receiveRoom() > 0);
        std::size_t chunk = 1 + bytes[i % length] % 97;
        if (chunk > length - at)
            chunk = length - at;
        if (chunk > pieces.receiveRoom())
            chunk = pieces.receiveRoom();
        std::memcpy(pieces.receiveSpace(), bytes + at, chunk);
        pieces.received(chunk);
        at += chunk;
        taken += pieces.takeRecords();
        require(pieces.heldBytes() < kRecordSize);
        collect(pieces, got);
    }
    require(taken == records);
    require(got.size() == expected.size());
    require(got.empty() ||
            std::memcmp(got.data(), expected.data(), got.size() * sizeof(SampleRow)) == 0);

    // Rate changes, discards and lost connections between receives.
    StreamAssembler mixed(rate, smallBuffer);
    for (std::size_t at = 0, i = 0; at < length; ++i) {
        const uint8_t control = bytes[(i * 7) % length];
        std::size_t chunk = 1 + control % 113;
        if (chunk > length - at)
            chunk = length - at;
        if (chunk > mixed.receiveRoom())
            chunk = mixed.receiveRoom();
        std::memcpy(mixed.receiveSpace(), bytes + at, chunk);
        mixed.received(chunk);
        at += chunk;
        rate.store(static_cast<int32_t>(control % 16) - 1);
        switch (control >> 5) {
            case 0:
                mixed.discardRecords();
                require(mixed.rowCount() == 0);
                break;
            case 1:
                mixed.reset();
                require(mixed.heldBytes() == 0);
                break;
            case 2:
                mixed.resetSample();
                [[fallthrough]];
            default: {
                const std::size_t wholeRecords = mixed.wholeRecords();
                require(mixed.takeRecords() == wholeRecords);
                require(mixed.rowCount() <= wholeRecords);
            }
        }
        require(mixed.heldBytes() < kRecordSize);
    }
    return 0;
}
