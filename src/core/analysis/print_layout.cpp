#include "analysis/print_layout.h"

#include <cmath>

namespace tarvelo::analysis {

namespace {

// Lengths are worked out in extended precision and truncated toward zero.
constexpr long double kMillimetresPerInch = 25.4L;
// A little above 16/9: 4800 units give a chart 2699 high, not 2700.
constexpr long double kChartAspect = 1.77777777778L;
constexpr int64_t kChartTop = 1000;

int64_t truncToUnits(long double v) {
    if (!std::isfinite(v))
        return 0;
    return static_cast<int64_t>(std::trunc(v));
}

}  // namespace

std::string printCountLine(int32_t count) {
    return "Number of datasets: " + std::to_string(count);
}

int64_t millimetresToUnits(int dpi, int mm) {
    return truncToUnits(static_cast<long double>(dpi) * mm / kMillimetresPerInch);
}

int64_t unitsBelow(int64_t base, int dpi, int mm) {
    return truncToUnits(static_cast<long double>(dpi) * mm / kMillimetresPerInch +
                        static_cast<long double>(base));
}

PrintLayout computePrintLayout(int64_t pageWidth, int dpiX, int dpiY) {
    PrintLayout l;
    l.chart.left = 0;
    l.chart.top = kChartTop;
    l.chart.right = pageWidth;
    l.chart.bottom = kChartTop + truncToUnits(static_cast<long double>(pageWidth) / kChartAspect);
    const int64_t b = l.chart.bottom;

    l.headerRight = millimetresToUnits(dpiX, 200);
    l.headerTop = millimetresToUnits(dpiY, 10);
    l.leftX = millimetresToUnits(dpiX, 10);
    l.countTop = unitsBelow(b, dpiY, 0);
    l.headingTop = unitsBelow(b, dpiY, 10);
    constexpr std::array<int, 4> columnMm = {80, 120, 160, 200};
    constexpr std::array<int, 4> rowMm = {20, 25, 30, 35};
    for (std::size_t i = 0; i < 4; ++i) {
        l.columnRight[i] = millimetresToUnits(dpiX, columnMm[i]);
        l.rowTop[i] = unitsBelow(b, dpiY, rowMm[i]);
    }
    return l;
}

}  // namespace tarvelo::analysis
