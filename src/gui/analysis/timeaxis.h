#pragma once

#include <QList>
#include <QLocale>
#include <QString>

namespace tarvelo::gui {

// The labels of a time axis of device time (milliseconds since 1970, no
// zone): a round step (1, 2 or 5 ms ... seconds, minutes, hours, days)
// that leaves about `minSpacing` pixels between labels, and each label's
// time in the regional format, as precise as the step needs. The date is
// given under the first label and wherever it changes.
struct TimeLabel {
    double timeMs = 0;
    QString time;
    QString date;  // empty where the date is that of the label before
};

class TimeAxis {
public:
    // The round step for `spanMs` over `pixels`.
    static double stepFor(double spanMs, double pixels, double minSpacing = 110);
    static QList<TimeLabel> labels(double startMs, double endMs, double pixels,
                                   const QLocale& locale = QLocale());
    // A time as the labels and the cursor show it, with `decimals` digits of the second (0..3).
    static QString timeText(double timeMs, int decimals, const QLocale& locale = QLocale());
    static QString dateText(double timeMs, const QLocale& locale = QLocale());
};

}  // namespace tarvelo::gui
