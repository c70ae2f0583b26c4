#include "acquisition/sample_list.h"

#include <cmath>
#include <cstdio>

#include "app/uitext.h"
#include "common/numbers.h"
#include "device/replies.h"

namespace tarvelo::acquisition {

std::string FormatSampleTime(double timeMs) {
    // Only times from 1970 up to the last second an unsigned 32-bit count
    // reaches can be shown; the range is checked on the double so that no
    // out-of-range conversion happens. Negative times (before 1970) count as
    // outside even when their seconds truncate to 0.
    if (!(timeMs >= 0.0))
        return kInvalidTimeText;  // negative or NaN
    const double seconds = std::trunc(timeMs / 1000.0);
    if (seconds > 4294967295.0)
        return kInvalidTimeText;

    const auto dateTime = device::DeviceSecondsToDateTime(static_cast<uint32_t>(seconds));
    const auto millis = static_cast<int>(static_cast<int64_t>(std::trunc(timeMs)) % 1000);
    char text[48];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d.%02d.%02d.%.3d", dateTime.day,
                  dateTime.month, dateTime.year, dateTime.hour, dateTime.minute, dateTime.second,
                  millis);
    return text;
}

SampleList::SampleList()
    : captions_{"", "Time", "Channel 1", "Channel 2", "Channel 3", "Channel 4"} {
    items_.reserve(kListReserve);
}

void SampleList::setPlainCaptions(const app::UiText& text) {
    for (int column = 1; column <= 5; ++column)
        captions_[column] = text[column + 5];
}

void SampleList::addRow(const SampleRow& row) {
    items_.push_back(Item{size() + 1, row});
}

void SampleList::refill(const MeasurementMemory& memory) {
    const auto snapshot = memory.snapshot(true);
    for (std::size_t i = 0; i < snapshot.rows.size(); ++i) {
        items_.push_back(Item{snapshot.ringIndex[i], snapshot.rows[i]});
    }
}

std::string SampleList::cellText(int32_t row, int column, char decimalSeparator) const {
    if (row < 0 || row >= size())
        return {};
    const Item& entry = items_[static_cast<std::size_t>(row)];
    switch (column) {
        case 0:
            return std::to_string(entry.number);
        case 1:
            return FormatSampleTime(entry.row.timeMs);
        case 2:
        case 3:
        case 4:
        case 5:
            return common::formatValue(entry.row.channel[column - 2], decimalSeparator);
        default:
            return {};
    }
}

}  // namespace tarvelo::acquisition
