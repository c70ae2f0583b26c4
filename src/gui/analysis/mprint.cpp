#include "analysis/mprint.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

#include "analysis/print_layout.h"

namespace tarvelo::gui {

namespace {

// y is the top of the text; x its left or right edge.
void drawLeft(QPainter& painter, qreal x, qreal top, const QString& text) {
    const QFontMetricsF metrics(painter.font(), painter.device());
    painter.drawText(QPointF(x, top + metrics.ascent()), text);
}

void drawRight(QPainter& painter, qreal right, qreal top, const QString& text) {
    const QFontMetricsF metrics(painter.font(), painter.device());
    painter.drawText(QPointF(right - metrics.horizontalAdvance(text), top + metrics.ascent()),
                     text);
}

}  // namespace

bool printGraphPage(QPrinter& printer,
                    const std::function<void(QPainter&, const QRectF&)>& drawChart,
                    const PrintContent& content) {
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const int dpiX = printer.logicalDpiX();
    const int dpiY = printer.logicalDpiY();
    const analysis::PrintLayout layout = analysis::computePrintLayout(printer.width(), dpiX, dpiY);

    const QRectF band(QPointF(layout.chart.left, layout.chart.top),
                      QPointF(layout.chart.right, layout.chart.bottom));
    painter.save();
    drawChart(painter, band);
    painter.restore();

    // The page's font as the chart left it: the header at twice its height
    // and bold, everything else plain.
    const QFont plain = painter.font();
    QFont header = plain;
    if (plain.pixelSize() > 0)
        header.setPixelSize(plain.pixelSize() * 2);
    else
        header.setPointSizeF(plain.pointSizeF() * 2);
    header.setBold(true);
    painter.setFont(header);
    drawRight(painter, layout.headerRight, layout.headerTop,
              QString::fromLatin1(analysis::kPrintHeader));
    painter.setFont(plain);

    drawLeft(painter, layout.leftX, layout.countTop,
             QString::fromStdString(analysis::printCountLine(content.statistics.count)));
    for (std::size_t k = 0; k < 4; ++k)
        drawRight(painter, layout.columnRight[k], layout.headingTop, content.captions[k]);

    constexpr std::array<analysis::StatisticRow, 4> rows = {
        analysis::StatisticRow::Minimum, analysis::StatisticRow::Maximum,
        analysis::StatisticRow::Average, analysis::StatisticRow::Deviation};
    for (std::size_t r = 0; r < rows.size(); ++r) {
        drawLeft(painter, layout.leftX, layout.rowTop[r],
                 QString::fromLatin1(analysis::kPrintRowHeadings[r]));
        for (std::size_t k = 0; k < 4; ++k) {
            const std::string cell = analysis::statisticCellText(
                content.statistics, static_cast<int>(k), rows[r], content.decimalSeparator);
            drawRight(painter, layout.columnRight[k], layout.rowTop[r],
                      QString::fromStdString(cell));
        }
    }
    return painter.end();
}

}  // namespace tarvelo::gui
