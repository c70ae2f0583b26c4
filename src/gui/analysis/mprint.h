#pragma once

#include <array>
#include <functional>

#include <QRectF>
#include <QString>

#include "analysis/statistics.h"

class QPainter;
class QPrinter;

namespace tarvelo::gui {

// What one printed page shows besides the chart.
struct PrintContent {
    analysis::StatisticsResult statistics;
    std::array<QString, 4> captions;  // the channel captions, column headings
    char decimalSeparator = '.';
};

// Prints the one page of the graph printout on `printer` (already set up):
// the chart drawn by `drawChart` into its band, the header, the count line,
// the column headings and the four statistics rows, at the positions of
// analysis::computePrintLayout. Returns false when the print job could not
// be started (no page was produced).
bool printGraphPage(QPrinter& printer,
                    const std::function<void(QPainter&, const QRectF&)>& drawChart,
                    const PrintContent& content);

}  // namespace tarvelo::gui
