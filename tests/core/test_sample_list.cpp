#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "app/uitext.h"
#include "device/replies.h"

namespace {

using tarvelo::acquisition::FormatSampleTime;
using tarvelo::acquisition::kInvalidTimeText;
using tarvelo::acquisition::kMemoryCapacity;
using tarvelo::acquisition::MeasurementMemory;
using tarvelo::acquisition::SampleList;
using tarvelo::acquisition::SampleRow;
using tarvelo::device::DeviceSecondsToDateTime;
using tarvelo::device::DeviceSecondsToDays;

constexpr double kDayMs = 86400000.0;

SampleRow sample(double timeMs, double c1, double c2 = 0, double c3 = 0, double c4 = 0) {
    SampleRow row{};
    row.channel[0] = c1;
    row.channel[1] = c2;
    row.channel[2] = c3;
    row.channel[3] = c4;
    row.timeMs = timeMs;
    return row;
}

TEST(SampleListDeviceTime, CalendarFromSeconds) {
    auto dt = DeviceSecondsToDateTime(0);
    EXPECT_EQ(dt.year, 1970);
    EXPECT_EQ(dt.month, 1);
    EXPECT_EQ(dt.day, 1);
    EXPECT_EQ(dt.hour, 0);
    dt = DeviceSecondsToDateTime(86399);
    EXPECT_EQ(dt.day, 1);
    EXPECT_EQ(dt.hour, 23);
    EXPECT_EQ(dt.minute, 59);
    EXPECT_EQ(dt.second, 59);
    dt = DeviceSecondsToDateTime(4294967295u);
    EXPECT_EQ(dt.year, 2106);
    EXPECT_EQ(dt.month, 2);
    EXPECT_EQ(dt.day, 7);
    EXPECT_EQ(dt.hour, 6);
    EXPECT_EQ(dt.minute, 28);
    EXPECT_EQ(dt.second, 15);
    dt = DeviceSecondsToDateTime(951782400u);  // leap day 2000
    EXPECT_EQ(dt.year, 2000);
    EXPECT_EQ(dt.month, 2);
    EXPECT_EQ(dt.day, 29);
    dt = DeviceSecondsToDateTime(4107542400u);  // 2100 is no leap year
    EXPECT_EQ(dt.month, 3);
    EXPECT_EQ(dt.day, 1);

    EXPECT_DOUBLE_EQ(DeviceSecondsToDays(0), 25569.0);
    EXPECT_DOUBLE_EQ(DeviceSecondsToDays(86400 + 43200), 25570.5);
}

TEST(SampleListTimeText, Examples) {
    EXPECT_EQ(FormatSampleTime(0), "01.01.1970 00.00.00.000");
    EXPECT_EQ(FormatSampleTime(999), "01.01.1970 00.00.00.999");
    EXPECT_EQ(FormatSampleTime(999.9), "01.01.1970 00.00.00.999");
    EXPECT_EQ(FormatSampleTime(kDayMs + 123), "02.01.1970 00.00.00.123");
    EXPECT_EQ(FormatSampleTime(1700000000123.0), "14.11.2023 22.13.20.123");
    EXPECT_EQ(FormatSampleTime(4294967295000.0), "07.02.2106 06.28.15.000");
    EXPECT_EQ(FormatSampleTime(4294967295999.0), "07.02.2106 06.28.15.999");
}

TEST(SampleListTimeText, OutsideTheRangeGivesClearText) {
    EXPECT_EQ(FormatSampleTime(-1000), kInvalidTimeText);
    EXPECT_EQ(FormatSampleTime(-1), kInvalidTimeText);  // before 1970 as well
    EXPECT_EQ(FormatSampleTime(4294967296000.0), kInvalidTimeText);
    EXPECT_EQ(FormatSampleTime(1e300), kInvalidTimeText);
    EXPECT_EQ(FormatSampleTime(std::numeric_limits<double>::infinity()), kInvalidTimeText);
    // Not a number: a time that could not be read, shown empty.
    EXPECT_EQ(FormatSampleTime(std::nan("")), "");
    EXPECT_EQ(FormatSampleTime(-0.0), "01.01.1970 00.00.00.000");
}

TEST(SampleList, CaptionsAndCellTexts) {
    SampleList list;
    EXPECT_EQ(list.caption(0), "");
    EXPECT_EQ(list.caption(1), "Time");
    EXPECT_EQ(list.channelCaption(4), "Channel 4");

    tarvelo::app::UiText text;
    text.applyLanguage(0);
    list.setCaption(2, "Channel 1 (N)");
    list.setPlainCaptions(text);
    EXPECT_EQ(list.caption(0), "");
    EXPECT_EQ(list.caption(1), "Zeit");
    EXPECT_EQ(list.channelCaption(1), "Kanal 1");
    EXPECT_EQ(list.caption(5), "Kanal 4");

    list.addRow(sample(kDayMs + 123, 12.345, -0.003, 1234567.0, -0.0));
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.cellText(0, 0, ','), "1");
    EXPECT_EQ(list.cellText(0, 1, ','), "02.01.1970 00.00.00.123");
    EXPECT_EQ(list.cellText(0, 2, ','), "12,34500");
    EXPECT_EQ(list.cellText(0, 2, '.'), "12.34500");
    EXPECT_EQ(list.cellText(0, 3, ','), "-0,00300");
    EXPECT_EQ(list.cellText(0, 4, '.'), "1234567.00000");
    EXPECT_EQ(list.cellText(0, 5, '.'), "-0.00000");
    EXPECT_EQ(list.cellText(0, 6, '.'), "");
    EXPECT_EQ(list.cellText(1, 0, '.'), "");
}

TEST(SampleList, AddedRowsOutliveTheRing) {
    MeasurementMemory memory;
    SampleList list;
    for (int i = 0; i < kMemoryCapacity + 1; ++i) {
        const SampleRow row = sample(1000.0 * i, i);
        memory.AppendSample(row);
        list.addRow(row);
    }
    EXPECT_EQ(memory.RowCount(), kMemoryCapacity);
    ASSERT_EQ(list.size(), kMemoryCapacity + 1);
    EXPECT_EQ(list.cellText(0, 0, '.'), "1");
    EXPECT_EQ(list.cellText(0, 2, '.'), "0.00000");  // no longer in the memory
    EXPECT_EQ(list.cellText(kMemoryCapacity, 0, '.'), "10241");

    list.clear();
    EXPECT_EQ(list.size(), 0);
}

TEST(SampleList, RefillFollowsTheRing) {
    MeasurementMemory memory;
    SampleList list;
    list.refill(memory);
    EXPECT_EQ(list.size(), 0);

    for (int i = 0; i < 3; ++i)
        memory.AppendSample(sample(0, i));
    list.refill(memory);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list.cellText(2, 0, '.'), "2");

    // After 10241 appends the oldest row is at ring index 1 and the newest at 0.
    memory.clear();
    for (int i = 0; i < kMemoryCapacity + 1; ++i)
        memory.AppendSample(sample(0, i));
    list.clear();
    list.refill(memory);
    ASSERT_EQ(list.size(), kMemoryCapacity);
    EXPECT_EQ(list.cellText(0, 0, '.'), "1");
    EXPECT_EQ(list.cellText(0, 2, '.'), "1.00000");
    EXPECT_EQ(list.cellText(kMemoryCapacity - 2, 0, '.'), "10239");
    EXPECT_EQ(list.cellText(kMemoryCapacity - 1, 0, '.'), "0");
    EXPECT_EQ(list.cellText(kMemoryCapacity - 1, 2, '.'), "10240.00000");

    // Refilling empties nothing itself.
    list.refill(memory);
    EXPECT_EQ(list.size(), 2 * kMemoryCapacity);
}

}  // namespace
