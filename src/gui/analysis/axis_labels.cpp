#include "analysis/axis_labels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include <QGraphicsLayout>
#include <QLocale>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

#include "acquisition/samplelistmodel.h"
#include "analysis/chart_support.h"

namespace tarvelo::gui {

namespace {

// Label spacing in pixels: automatic steps aim at about this distance, and a
// preferred step is widened in 1-2-5 steps while labels would come closer
// than the minimum.
constexpr double kAutoLabelSpacing = 50.0;
constexpr double kMinLabelSpacing = 18.0;
constexpr double kXLabelSpacing = 90.0;

// The regional format's own thousands separator, whatever character it is
// (French and many others group with a narrow or no-break space).
std::string groupSeparator() {
    const QString sep = QLocale().groupSeparator();
    return sep.isEmpty() ? std::string(",") : sep.toStdString();
}

// The smallest of 1, 2, 5 times a power of ten that is at least `raw`.
double niceStepAtLeast(double raw) {
    if (!(raw > 0) || !std::isfinite(raw))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw * (1 - 1e-12))
            return m * power;
    }
    return 10 * power;
}

}  // namespace

void AxisLabels::placeX() {
    placeX(x_.min(), x_.max());
}

void AxisLabels::placeX(double min, double max) {
    const double range = max - min;
    if (!std::isfinite(range) || !(range > 0))
        return;
    const double width = std::max(1.0, chart_.plotArea().width());
    const double step = niceStepAtLeast(range / std::max(2.0, std::floor(width / kXLabelSpacing)));
    if (x_.tickInterval() != step)
        x_.setTickInterval(step);
}

void AxisLabels::placeY(std::optional<double> preferredStep) {
    const double lo = y_.min();
    const double hi = y_.max();
    const double range = hi - lo;
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(range > 0))
        return;
    const double height = std::max(1.0, chart_.plotArea().height());
    const double maxLabels = std::max(2.0, std::floor(height / kMinLabelSpacing));
    double step = 0;
    if (preferredStep) {
        step = *preferredStep;
        // 1, 2, 5, 10 ... times the preferred step until the labels fit.
        const std::array<double, 3> factors = {2.0, 2.5, 2.0};
        for (std::size_t i = 0; range / step > maxLabels; i = (i + 1) % factors.size())
            step *= factors[i];
    } else {
        step = niceStepAtLeast(range / std::max(2.0, std::floor(height / kAutoLabelSpacing)));
    }

    QList<double> ticks;
    const double first = std::ceil(lo / step - 1e-9);
    const double last = std::floor(hi / step + 1e-9);
    for (double i = first; i <= last && ticks.size() < 1000; i += 1)
        ticks.append(i * step);
    if (ticks == yTicks_ && !y_.categoriesLabels().isEmpty())
        return;
    yTicks_ = ticks;

    const std::string dec(1, SampleListModel::decimalSeparator());
    const std::string group = groupSeparator();
    for (const QString& label : y_.categoriesLabels())
        y_.remove(label);
    y_.setStartValue(ticks.isEmpty() ? lo : ticks.front() - step);
    for (double v : ticks) {
        const double shown = std::fabs(v) < step * 1e-6 ? 0.0 : v;
        y_.append(QString::fromStdString(analysis::formatAxisLabel(shown, dec, group)), v);
    }
    // Laid out again at once, or the new labels are drawn shortened ("...")
    // to the old width: on screen until the next layout, on a printed page
    // for good.
    if (!layingOut_ && chart_.layout())
        withinLayout([this] { chart_.layout()->activate(); });
}

}  // namespace tarvelo::gui
