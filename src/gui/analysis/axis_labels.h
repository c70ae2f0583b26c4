#pragma once

#include <optional>
#include <vector>

#include <QFont>
#include <QList>
#include <QString>

#include "analysis/chart_support.h"

QT_BEGIN_NAMESPACE
class QCategoryAxis;
class QChart;
class QValueAxis;
QT_END_NAMESPACE

namespace tarvelo::gui {

// The graph's axis labels. X: round sample numbers (1, 2 or 5 times a power
// of ten) about every 90 pixels, with the regional decimal separator. Y: the
// preferred step or a round automatic one, widened in 1-2-5 steps just as far
// as the labels need to show whole, in the form "#,##0.######" with the
// regional separators. The Y axis is as wide as its longest label, so a
// change of the Y labels lays the chart out again at once.
class AxisLabels {
public:
    AxisLabels(QChart& chart, QValueAxis& x, QCategoryAxis& y) : chart_(chart), x_(x), y_(y) {}

    // The X label step for a range about to be set: the chart labels a new
    // range at once with the step it has, and a step left from a narrow zoom
    // would ask it for tens of thousands of labels.
    void placeX(double min, double max);
    void placeX();
    // The Y labels for the axis's range; unchanged labels are kept.
    void placeY(std::optional<double> preferredStep);
    // The room the chart's current layout gives the Y labels (see
    // analysis::YLabelRoom), from the labels' font and separators.
    analysis::YLabelRoom yLabelRoom();
    // Runs `work` as part of the chart's own layout pass, where a change of
    // the labels leaves the new layout to that pass.
    template <typename Work>
    void withinLayout(Work&& work) {
        const bool outer = !layingOut_;
        layingOut_ = true;
        work();
        if (outer)
            layingOut_ = false;
    }

private:
    QChart& chart_;
    QValueAxis& x_;
    QCategoryAxis& y_;
    QList<double> yTicks_;
    std::vector<double> ticks_;
    bool layingOut_ = false;
    // The text heights last measured, and what they were measured for.
    struct TextHeight {
        QFont font;
        QString sample;
        double height = 0.0;
    };
    TextHeight xText_;
    TextHeight yText_;
    bool yPlaced_ = false;

    static double textHeight(TextHeight& cache, const QFont& font, const QString& sample);
};

}  // namespace tarvelo::gui
