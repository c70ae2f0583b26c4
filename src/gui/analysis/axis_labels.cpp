#include "analysis/axis_labels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include <QGraphicsLayout>
#include <QLocale>
#include <QTextDocument>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

#include "acquisition/samplelistmodel.h"
#include "analysis/chart_support.h"

namespace tarvelo::gui {

namespace {

// Label spacing in pixels: automatic Y steps aim at about this distance
// (and are widened as preferred ones are when the labels need more room),
// X steps at the other.
constexpr double kAutoLabelSpacing = 50.0;
constexpr double kXLabelSpacing = 90.0;

// How the charting toolkit sizes axis labels: a text item with a half-pixel
// document margin, and this padding around each label.
constexpr double kTextMargin = 0.5;
constexpr double kLabelPadding = 4.0;

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

// The height of a text item holding `sample` in `font`, as the toolkit
// measures its labels. A separator the font lacks comes from another font,
// whose line may be taller: the sample holds every character a label can.
double measureTextHeight(const QFont& font, const QString& sample) {
    QTextDocument document;
    document.setDocumentMargin(kTextMargin);
    document.setDefaultFont(font);
    document.setPlainText(sample);
    return document.size().height();
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

double AxisLabels::textHeight(TextHeight& cache, const QFont& font, const QString& sample) {
    if (cache.height <= 0 || cache.font != font || cache.sample != sample)
        cache = {font, sample, measureTextHeight(font, sample)};
    return cache.height;
}

analysis::YLabelRoom AxisLabels::yLabelRoom() {
    const QString dec(QChar::fromLatin1(SampleListModel::decimalSeparator()));
    const QString group = QString::fromStdString(groupSeparator());
    const QRectF area = chart_.plotArea();
    const double xText = textHeight(
        xText_, x_.labelsFont(), QStringLiteral("0123456789e+-") + chart_.locale().decimalPoint());
    analysis::YLabelRoom room;
    room.plotHeight = area.height();
    // A left axis is laid out from the top of the chart's content down to
    // the bottom of the X axis under the plot (its labels' height, the
    // padding and one pixel), in whole pixels.
    room.axisHeight = std::floor(area.bottom() + xText + kLabelPadding + 1.0);
    room.textHeight =
        textHeight(yText_, y_.labelsFont(), QStringLiteral("-0123456789") + dec + group);
    room.padding = kLabelPadding;
    return room;
}

void AxisLabels::placeY(std::optional<double> preferredStep) {
    const double lo = y_.min();
    const double hi = y_.max();
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi - lo > 0))
        return;
    const double step =
        analysis::yLabelStep(lo, hi, preferredStep, yLabelRoom(), kAutoLabelSpacing);
    analysis::yLabelTicks(lo, hi, step, ticks_);

    const QList<double> ticks(ticks_.begin(), ticks_.end());
    if (yPlaced_ && ticks == yTicks_)
        return;
    yTicks_ = ticks;
    yPlaced_ = true;

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
