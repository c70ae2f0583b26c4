#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/sample_row.h"
#include "acquisition/stream_assembler.h"

namespace {

using tarvelo::acquisition::kRecordSize;
using tarvelo::acquisition::SampleRow;
using tarvelo::acquisition::StreamAssembler;

std::vector<unsigned char> records(int count, double value) {
    std::vector<unsigned char> bytes(kRecordSize * count);
    for (int i = 0; i < count; ++i) {
        SampleRow row{};
        for (double& channel : row.channel)
            channel = value;
        row.timeMs = 1000.0 + i;
        row.deviceFlag = static_cast<uint8_t>(i);
        std::memcpy(bytes.data() + kRecordSize * i, &row, kRecordSize);
    }
    return bytes;
}

// Feeds the bytes in pieces of `piece` bytes and collects the samples.
std::vector<SampleRow> feed(StreamAssembler& stream, const std::vector<unsigned char>& bytes,
                            std::size_t piece) {
    std::vector<SampleRow> rows;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = std::min({piece, bytes.size() - at, stream.receiveRoom()});
        std::memcpy(stream.receiveSpace(), bytes.data() + at, n);
        stream.received(n);
        at += n;
        stream.takeRecords();
        rows.insert(rows.end(), stream.rows(), stream.rows() + stream.rowCount());
    }
    return rows;
}

// An index outside the list counts as the default (100 records), also -1,
// which once passed for "already looked up" and divided the first record by 0.
TEST(StreamAssembler, InvalidIndicesAverageOverTheDefaultCount) {
    for (int32_t index : {-1, 13, -100000}) {
        std::atomic<int32_t> rate{index};
        StreamAssembler stream(rate, 64 * 1024);
        const std::vector<SampleRow> rows = feed(stream, records(250, 2.5), 4096);
        ASSERT_EQ(rows.size(), 2u) << index;
        EXPECT_DOUBLE_EQ(rows[0].channel[0], 2.5) << index;
        EXPECT_DOUBLE_EQ(rows[1].timeMs, 1199.0) << index;
        EXPECT_EQ(stream.heldBytes(), 0u);
    }
}

// Records cut anywhere, through a buffer smaller than two records, give the
// same samples as the stream in one piece; the partial tail stays held.
TEST(StreamAssembler, SamplesDoNotDependOnHowTheBytesArrive) {
    std::atomic<int32_t> rate{1};  // 2 records per sample
    std::vector<unsigned char> bytes = records(9, 0.0);
    for (int i = 0; i < 9; ++i) {
        const double value = i * 0.5;
        std::memcpy(bytes.data() + kRecordSize * i + 8 * (i % 4), &value, sizeof value);
    }
    bytes.resize(bytes.size() + 20, 0xAB);

    StreamAssembler whole(rate, bytes.size());
    const std::vector<SampleRow> expected = feed(whole, bytes, bytes.size());
    ASSERT_EQ(expected.size(), 4u);
    for (std::size_t piece : {1u, 5u, 47u, 49u, 95u}) {
        StreamAssembler small(rate, kRecordSize + 50);
        const std::vector<SampleRow> rows = feed(small, bytes, piece);
        ASSERT_EQ(rows.size(), expected.size()) << piece;
        EXPECT_EQ(std::memcmp(rows.data(), expected.data(), rows.size() * kRecordSize), 0) << piece;
        EXPECT_EQ(small.heldBytes(), 20u) << piece;
    }
    // The second sample: records 2 and 3, their time stamp and flag from record 3.
    EXPECT_DOUBLE_EQ(expected[1].channel[2], 0.5);
    EXPECT_DOUBLE_EQ(expected[1].channel[3], 0.75);
    EXPECT_DOUBLE_EQ(expected[1].timeMs, 1003.0);
    EXPECT_EQ(expected[1].deviceFlag, 3);
}

}  // namespace
