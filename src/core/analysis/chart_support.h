#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/sample_row.h"

namespace tarvelo::analysis {

// The preferred distance between Y labels for an axis range r = |max - min|:
// 0.1 below 10, 0.01 below 1, ... 0.00001 below 0.001; none (automatic) from
// 10 upwards and for a range that is not a number.
std::optional<double> preferredYStep(double range);

// The room the chart's layout gives the Y axis labels, in pixels. The
// charting toolkit shares the axis's height among its labels and one slot
// more, and shortens every label to "..." when a share minus the padding
// above and below is lower than the label's text; it leaves out a label that
// would overlap the one below it.
struct YLabelRoom {
    double axisHeight = 0.0;  // the height the toolkit lays the axis out on
    double textHeight = 0.0;  // one label's text
    double padding = 0.0;     // above and below each label
    double plotHeight = 0.0;  // the plot area, over which the range is drawn
};

// Whether `count` labels `spacing` pixels apart all show whole in `room`.
// Labels are put at whole pixels: one pixel more than the text between them.
bool yLabelsFit(std::size_t count, double spacing, const YLabelRoom& room);

// The multiples of `step` within [lo, hi] (ends included with a small
// tolerance), lowest first, at most `limit` of them.
void yLabelTicks(double lo, double hi, double step, std::vector<double>& out,
                 std::size_t limit = 1000);
std::size_t yLabelCount(double lo, double hi, double step);

// The distance between Y labels for the axis range [lo, hi]: the preferred
// step, or without one the 1-2-5 step that puts labels about `autoSpacing`
// pixels apart, widened in 1-2-5 steps (1, 2, 5, 10, 20 ... times it) just as
// far as the labels need to show whole. When not even one label fits, the
// result is 0, as for a range that is not usable: no labels.
double yLabelStep(double lo, double hi, std::optional<double> preferred, const YLabelRoom& room,
                  double autoSpacing = 50.0);

// Y axis label in the form "#,##0.######": groups of three integer digits
// separated by groupSep, at least one integer digit, up to six decimals with
// trailing zeros dropped. A value that rounds to zero shows as "0". The
// separators are UTF-8 texts: many regional formats group with a space
// character outside ASCII (U+202F, U+00A0).
std::string formatAxisLabel(double value, std::string_view decimalSep, std::string_view groupSep);
inline std::string formatAxisLabel(double value, char decimalSep, char groupSep) {
    return formatAxisLabel(value, std::string_view(&decimalSep, 1), std::string_view(&groupSep, 1));
}

// The axis limit edits: "%f" with exactly two decimals.
std::string formatLimit(double value, char decimalSep);

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// Reduces the series (X = index 0..n-1, Y = y[i]) for drawing the visible X
// range [xMin, xMax] on pixelColumns columns: for every column its lowest and
// its highest point, in X order, plus the nearest point outside the range on
// each side, so that lines running to the plot's edges are drawn as with all
// points. Each column then shows the same vertical extent as with all points.
// When n <= 2 * pixelColumns, or the range or column count is unusable, `out`
// receives all points unchanged.
void reduceMinMax(const double* y, std::size_t n, double xMin, double xMax, int pixelColumns,
                  std::vector<Point>& out);

// The extents of the full data of the attached series (for automatic scaling,
// which must not depend on the reduction). X runs 0..n-1; values that are not
// numbers are skipped.
struct Extents {
    bool empty = true;
    double xMin = 0.0;
    double xMax = 0.0;
    double yMin = 0.0;
    double yMax = 0.0;

    void add(const double* y, std::size_t n);
};

Extents seriesExtents(const std::array<std::vector<double>, 4>& values,
                      const std::array<bool, 4>& attached);

// Splits chronological rows into the four channels' values (reusing storage).
void splitChannels(const std::vector<acquisition::SampleRow>& rows,
                   std::array<std::vector<double>, 4>& values);

}  // namespace tarvelo::analysis
