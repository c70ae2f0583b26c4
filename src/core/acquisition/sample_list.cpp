#include "acquisition/sample_list.h"

#include <cmath>

#include "app/uitext.h"
#include "common/numbers.h"
#include "device/replies.h"

namespace tarvelo::acquisition {

namespace {

// The device time of `timeMs` with its milliseconds; false for times that
// cannot be shown: only times from 1970 up to the last second an unsigned
// 32-bit count reaches. The range is checked on the double so that no
// out-of-range conversion happens. Negative times (before 1970) count as
// outside even when their seconds truncate to 0.
bool deviceTime(double timeMs, device::DeviceDateTime& dateTime, int& millis) {
    if (!(timeMs >= 0.0))
        return false;  // negative or NaN
    const double seconds = std::trunc(timeMs / 1000.0);
    if (seconds > 4294967295.0)
        return false;
    dateTime = device::DeviceSecondsToDateTime(static_cast<uint32_t>(seconds));
    millis = static_cast<int>(static_cast<int64_t>(std::trunc(timeMs)) % 1000);
    return true;
}

// `value` (0 or more) with `width` digits, leading zeros: what "%0*d" prints
// for values that fit. By hand, because every exported line has a time and
// the C library's formatting costs more than the rest of the line.
char* putDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// The date and time with the given separators and the milliseconds.
std::string formatTime(const device::DeviceDateTime& t, int millis, bool iso) {
    char text[24];
    char* p = text;
    if (iso) {
        p = putDigits(p, t.year, 4);
        *p++ = '-';
        p = putDigits(p, t.month, 2);
        *p++ = '-';
        p = putDigits(p, t.day, 2);
        *p++ = 'T';
    } else {
        p = putDigits(p, t.day, 2);
        *p++ = '.';
        p = putDigits(p, t.month, 2);
        *p++ = '.';
        p = putDigits(p, t.year, 4);
        *p++ = ' ';
    }
    const char separator = iso ? ':' : '.';
    p = putDigits(p, t.hour, 2);
    *p++ = separator;
    p = putDigits(p, t.minute, 2);
    *p++ = separator;
    p = putDigits(p, t.second, 2);
    *p++ = '.';
    p = putDigits(p, millis, 3);
    return std::string(text, p);
}

}  // namespace

std::string FormatSampleTime(double timeMs) {
    // A time that could not be read is shown empty.
    if (std::isnan(timeMs))
        return {};
    device::DeviceDateTime dateTime;
    int millis;
    if (!deviceTime(timeMs, dateTime, millis))
        return kInvalidTimeText;
    return formatTime(dateTime, millis, false);
}

std::string FormatSampleTimeIso(double timeMs) {
    device::DeviceDateTime dateTime;
    int millis;
    if (!deviceTime(timeMs, dateTime, millis))
        return {};
    return formatTime(dateTime, millis, true);
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
