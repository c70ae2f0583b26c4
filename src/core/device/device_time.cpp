#include "device/replies.h"

namespace tarvelo::device {

namespace {

constexpr uint32_t kSecondsPerDay = 86400;
// 1970-01-01 as a day count since 1899-12-30.
constexpr double kUnixEpochDays = 25569.0;

struct CivilDate {
    int year, month, day;
};

// The proleptic Gregorian date `days` days after 1970-01-01, by plain
// arithmetic on 400-year eras (no dependence on the C library's time zone).
CivilDate civilFromDays(int64_t days) {
    days += 719468;  // days from 0000-03-01 to 1970-01-01
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day};
}

}  // namespace

DeviceDateTime DeviceSecondsToDateTime(uint32_t seconds) {
    const uint32_t days = seconds / kSecondsPerDay;
    const uint32_t rest = seconds % kSecondsPerDay;
    const CivilDate date = civilFromDays(days);
    return {date.year,
            date.month,
            date.day,
            static_cast<int>(rest / 3600),
            static_cast<int>(rest % 3600 / 60),
            static_cast<int>(rest % 60)};
}

double DeviceSecondsToDays(uint32_t seconds) {
    const uint32_t days = seconds / kSecondsPerDay;
    const uint32_t rest = seconds % kSecondsPerDay;
    return kUnixEpochDays + days + static_cast<double>(rest) / kSecondsPerDay;
}

}  // namespace tarvelo::device
