#include "analysis/timeaxis.h"

#include <cmath>

#include <QDateTime>

namespace tarvelo::gui {

namespace {

constexpr double kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;
constexpr double kSteps[] = {1,           2,           5,           10,          20,
                             50,          100,         200,         500,         kSecond,
                             2 * kSecond, 5 * kSecond, 10 * kSecond, 15 * kSecond, 30 * kSecond,
                             kMinute,     2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute,
                             30 * kMinute, kHour,      2 * kHour,   3 * kHour,   6 * kHour,
                             12 * kHour,  kDay,        2 * kDay,    7 * kDay};

QDateTime deviceTime(double timeMs) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(timeMs)), Qt::UTC);
}

}  // namespace

double TimeAxis::stepFor(double spanMs, double pixels, double minSpacing) {
    const double wanted = pixels > 0 ? spanMs * minSpacing / pixels : spanMs;
    for (double step : kSteps) {
        if (step >= wanted)
            return step;
    }
    // Beyond a week: whole weeks.
    return std::ceil(wanted / (7 * kDay)) * 7 * kDay;
}

QString TimeAxis::timeText(double timeMs, int decimals, const QLocale& locale) {
    // The region's short time format ("HH:mm", "h:mm AP", ...), with the
    // seconds after its minutes and the milliseconds after them as needed.
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (decimals >= 0 && !format.contains(QLatin1String("ss"))) {
        const qsizetype minutes = format.indexOf(QLatin1String("mm"));
        const QChar separator = minutes > 0 ? format.at(minutes - 1) : QLatin1Char(':');
        if (minutes >= 0)
            format.insert(minutes + 2, separator + QLatin1String("ss"));
    }
    if (decimals > 0) {
        // Always all three digits ("zzz"); the ones not asked for are cut below.
        const qsizetype seconds = format.indexOf(QLatin1String("ss"));
        if (seconds >= 0)
            format.insert(seconds + 2, locale.decimalPoint() + QLatin1String("zzz"));
    }
    QString text = locale.toString(deviceTime(timeMs).time(), format);
    if (decimals > 0 && decimals < 3) {
        // Qt writes all three digits for "z" patterns; keep the ones asked for.
        const qsizetype point = text.lastIndexOf(locale.decimalPoint());
        if (point >= 0)
            text.remove(point + 1 + decimals, 3 - decimals);
    }
    return text;
}

QString TimeAxis::dateText(double timeMs, const QLocale& locale) {
    return locale.toString(deviceTime(timeMs).date(), QLocale::ShortFormat);
}

QList<TimeLabel> TimeAxis::labels(double startMs, double endMs, double pixels,
                                  const QLocale& locale) {
    QList<TimeLabel> result;
    if (!(endMs > startMs) || pixels <= 0)
        return result;
    const double step = stepFor(endMs - startMs, pixels);
    const int decimals = step < 10 ? 3 : step < 100 ? 2 : step < kSecond ? 1 : step < kMinute ? 0 : -1;
    QString lastDate;
    const double first = std::ceil(startMs / step);
    for (double i = 0, t = first * step; t <= endMs; ++i, t = (first + i) * step) {
        TimeLabel label;
        label.timeMs = t;
        label.time = step >= kDay ? QString() : timeText(t, decimals, locale);
        const QString date = dateText(t, locale);
        if (date != lastDate || step >= kDay)
            label.date = date;
        lastDate = date;
        result.append(label);
    }
    return result;
}

}  // namespace tarvelo::gui
