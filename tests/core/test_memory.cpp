#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "acquisition/measurement_memory.h"

namespace {

using tarvelo::acquisition::kMemoryCapacity;
using tarvelo::acquisition::MeasurementMemory;
using tarvelo::acquisition::SampleRow;

// A row that carries its sequence number in every field.
SampleRow numbered(int n) {
    SampleRow row{};
    for (int c = 0; c < 4; ++c)
        row.channel[c] = n + c * 0.25;
    row.timeMs = 1000.0 * n;
    return row;
}

int numberOf(const SampleRow& row) {
    return static_cast<int>(row.timeMs / 1000.0);
}

void appendMany(MeasurementMemory& memory, int first, int count) {
    for (int i = 0; i < count; ++i)
        memory.AppendSample(numbered(first + i));
}

TEST(MeasurementMemory, StartsEmptyAndZero) {
    MeasurementMemory memory;
    EXPECT_EQ(memory.RowCount(), 0);
    EXPECT_FALSE(memory.Wrapped());
    EXPECT_TRUE(memory.state().empty());
    EXPECT_EQ(memory.row(0).timeMs, 0.0);
    EXPECT_EQ(memory.row(kMemoryCapacity - 1).channel[3], 0.0);
    SampleRow newest;
    EXPECT_FALSE(memory.newestRow(newest));
    EXPECT_TRUE(memory.snapshot().rows.empty());
}

TEST(MeasurementMemory, RingAtCapacity) {
    MeasurementMemory memory;
    appendMany(memory, 0, kMemoryCapacity - 1);
    EXPECT_EQ(memory.WritePosition(), kMemoryCapacity - 1);
    EXPECT_FALSE(memory.Wrapped());
    // The append that fills the last row reports 10240 and wraps.
    EXPECT_EQ(memory.AppendSample(numbered(kMemoryCapacity - 1)), kMemoryCapacity);
    EXPECT_EQ(memory.WritePosition(), 0);
    EXPECT_TRUE(memory.Wrapped());
    EXPECT_EQ(memory.RowCount(), kMemoryCapacity);

    auto snap = memory.snapshot(true);
    ASSERT_EQ(snap.rows.size(), static_cast<size_t>(kMemoryCapacity));
    for (int i = 0; i < kMemoryCapacity; ++i) {
        ASSERT_EQ(numberOf(snap.rows[i]), i);
        ASSERT_EQ(snap.ringIndex[i], i);
    }
    SampleRow newest;
    EXPECT_FALSE(memory.newestRow(newest));  // WritePosition 0 just after the wrap

    // The 10241st append overwrites row 0; the oldest row is now row 1.
    EXPECT_EQ(memory.AppendSample(numbered(kMemoryCapacity)), 1);
    EXPECT_EQ(memory.RowCount(), kMemoryCapacity);
    snap = memory.snapshot(true);
    ASSERT_EQ(snap.rows.size(), static_cast<size_t>(kMemoryCapacity));
    EXPECT_EQ(snap.ringIndex.front(), 1);
    EXPECT_EQ(numberOf(snap.rows.front()), 1);
    EXPECT_EQ(snap.ringIndex[kMemoryCapacity - 2], kMemoryCapacity - 1);
    EXPECT_EQ(snap.ringIndex.back(), 0);
    EXPECT_EQ(numberOf(snap.rows.back()), kMemoryCapacity);
    ASSERT_TRUE(memory.newestRow(newest));
    EXPECT_EQ(numberOf(newest), kMemoryCapacity);

    std::vector<SampleRow> copy(3);
    const auto state = memory.copyChronological(copy);
    EXPECT_EQ(state.writePosition, 1);
    EXPECT_TRUE(state.wrapped);
    ASSERT_EQ(copy.size(), static_cast<size_t>(kMemoryCapacity));
    for (int i = 0; i < kMemoryCapacity; ++i)
        ASSERT_EQ(numberOf(copy[i]), i + 1);
}

TEST(MeasurementMemory, ClearAndReset) {
    MeasurementMemory memory;
    appendMany(memory, 0, kMemoryCapacity + 5);
    memory.clear();
    EXPECT_TRUE(memory.state().empty());
    EXPECT_FALSE(memory.Wrapped());
    EXPECT_EQ(numberOf(memory.row(3)), 3 + kMemoryCapacity);  // contents stay in place
    memory.AppendSample(numbered(77));
    EXPECT_EQ(memory.RowCount(), 1);
    EXPECT_EQ(numberOf(memory.snapshot().rows.at(0)), 77);

    memory.reset();
    EXPECT_EQ(memory.RowCount(), 0);
    EXPECT_EQ(memory.row(0).timeMs, 0.0);
    EXPECT_EQ(memory.row(3).timeMs, 0.0);
}

TEST(MeasurementMemory, LoadFullThenAppend) {
    MeasurementMemory memory;
    std::vector<SampleRow> rows;
    for (int i = 0; i < kMemoryCapacity; ++i)
        rows.push_back(numbered(i));
    memory.load(rows);
    EXPECT_EQ(memory.WritePosition(), kMemoryCapacity);
    EXPECT_FALSE(memory.Wrapped());
    EXPECT_EQ(memory.RowCount(), kMemoryCapacity);
    SampleRow newest;
    ASSERT_TRUE(memory.newestRow(newest));
    EXPECT_EQ(numberOf(newest), kMemoryCapacity - 1);

    // The full, unwrapped memory wraps first: row 0 takes the new sample,
    // which is the newest in chronological order.
    memory.AppendSample(numbered(50000));
    EXPECT_TRUE(memory.Wrapped());
    EXPECT_EQ(memory.WritePosition(), 1);
    const auto snap = memory.snapshot();
    ASSERT_EQ(snap.rows.size(), static_cast<size_t>(kMemoryCapacity));
    EXPECT_EQ(numberOf(snap.rows.front()), 1);
    EXPECT_EQ(numberOf(snap.rows.back()), 50000);
}

TEST(MeasurementMemory, LoadTooManyOrFew) {
    MeasurementMemory memory;
    std::vector<SampleRow> rows;
    for (int i = 0; i < kMemoryCapacity + 100; ++i)
        rows.push_back(numbered(i));
    memory.load(rows);  // only the first 10240 are taken
    EXPECT_EQ(memory.WritePosition(), kMemoryCapacity);
    EXPECT_EQ(numberOf(memory.row(kMemoryCapacity - 1)), kMemoryCapacity - 1);

    appendMany(memory, 0, 3);
    memory.load({numbered(5), numbered(6)});
    EXPECT_FALSE(memory.Wrapped());
    EXPECT_EQ(memory.RowCount(), 2);
    EXPECT_EQ(numberOf(memory.snapshot().rows.back()), 6);
    EXPECT_EQ(memory.row(-1).timeMs, 0.0);
    EXPECT_EQ(memory.row(kMemoryCapacity).timeMs, 0.0);
}

// Readers must always see a consistent state: every snapshot is a run of
// consecutive sample numbers whose length matches its state.
TEST(MeasurementMemory, SnapshotsWhileAnotherThreadAppends) {
    MeasurementMemory memory;
    constexpr int kAppends = 3 * kMemoryCapacity;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kAppends; ++i)
            memory.AppendSample(numbered(i));
        done = true;
    });

    int snapshots = 0;
    std::vector<SampleRow> rows;
    while (!done || snapshots < 3) {
        const auto snap = memory.snapshot();
        ASSERT_EQ(static_cast<int>(snap.rows.size()), snap.state.rowCount());
        for (size_t i = 1; i < snap.rows.size(); ++i) {
            ASSERT_EQ(numberOf(snap.rows[i]), numberOf(snap.rows[i - 1]) + 1);
        }
        const auto state = memory.copyChronological(rows);
        ASSERT_EQ(static_cast<int>(rows.size()), state.rowCount());
        if (!rows.empty()) {
            ASSERT_EQ(numberOf(rows.back()) - numberOf(rows.front()) + 1, state.rowCount());
        }
        ++snapshots;
    }
    writer.join();
    EXPECT_EQ(numberOf(memory.snapshot().rows.back()), kAppends - 1);
}

}  // namespace
