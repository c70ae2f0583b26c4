#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/measurement_memory.h"
#include "analysis/chart_support.h"
#include "analysis/print_layout.h"
#include "analysis/standard_colours.h"
#include "analysis/statistics.h"
#include "fixtures.h"

using tarvelo::test::makeRow;

namespace {

using tarvelo::acquisition::kMemoryCapacity;
using tarvelo::acquisition::MeasurementMemory;
using tarvelo::acquisition::SampleRow;
using namespace tarvelo::analysis;

std::string cell(const StatisticsResult& r, int channel, StatisticRow row, char sep = '.') {
    return statisticCellText(r, channel, row, sep);
}

// --- Statistics -----------------------------------------------------------------

TEST(AnalysisStatistics, OneTwoThree) {
    MeasurementMemory memory;
    memory.load({makeRow(1, -4), makeRow(2, -5), makeRow(3, -6)});
    const auto r = ComputeStatistics(memory);
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(cell(r, 0, StatisticRow::Minimum), "1.00000");
    EXPECT_EQ(cell(r, 0, StatisticRow::Maximum), "3.00000");
    EXPECT_EQ(cell(r, 0, StatisticRow::Average), "2.00000");
    EXPECT_EQ(cell(r, 0, StatisticRow::Deviation), "1.00000");
    EXPECT_EQ(cell(r, 1, StatisticRow::Minimum, ','), "-6,00000");
    EXPECT_EQ(cell(r, 1, StatisticRow::Average, ','), "-5,00000");
    EXPECT_EQ(r.channels[0].sum, 6.0);
    // Channels 3 and 4 hold zeros: included like any other value.
    EXPECT_EQ(cell(r, 3, StatisticRow::Maximum), "0.00000");
    EXPECT_EQ(cell(r, 3, StatisticRow::Deviation), "0.00000");
    EXPECT_EQ(cell(r, 4, StatisticRow::Minimum), "");
}

TEST(AnalysisStatistics, EqualValuesGiveExactlyZeroDeviation) {
    for (const double v : {0.1, 1e8 + 0.3, -123.456789, 3e-300}) {
        MeasurementMemory memory;
        memory.load(std::vector<SampleRow>(7, makeRow(v)));
        const auto r = ComputeStatistics(memory);
        const auto& ch = r.channels[0];
        EXPECT_EQ(ch.minimum, v);
        EXPECT_EQ(ch.maximum, v);
        ASSERT_TRUE(ch.deviation.has_value());
        EXPECT_EQ(*ch.deviation, 0.0) << v;
    }
    // Nearly equal values: the one-pass formula may cancel to a tiny negative
    // variance, which must not become NaN.
    std::vector<SampleRow> rows;
    for (int i = 0; i < 1000; ++i) {
        rows.push_back(makeRow(i % 2 ? 0.1 : std::nextafter(0.1, 1.0)));
    }
    const auto r = ComputeStatistics(rows);
    ASSERT_TRUE(r.channels[0].deviation.has_value());
    EXPECT_FALSE(std::isnan(*r.channels[0].deviation));
    EXPECT_GE(*r.channels[0].deviation, 0.0);
    EXPECT_LT(*r.channels[0].deviation, 1e-15);
}

TEST(AnalysisStatistics, PrecisionOfSumAndDeviation) {
    // The sum is a float64 rounded after every addition: 1e16 + 1 + 1 stays 1e16.
    auto r = ComputeStatistics(std::vector<SampleRow>{makeRow(1e16), makeRow(1), makeRow(1)});
    EXPECT_EQ(r.channels[0].sum, 1e16);
    EXPECT_EQ(*r.channels[0].average, 1e16 / 3);
    // The squares of values near 1e8 exceed float64's 53 bits; extended precision
    // still yields the exact deviation.
    r = ComputeStatistics(
        std::vector<SampleRow>{makeRow(1e8 + 1), makeRow(1e8 + 2), makeRow(1e8 + 3)});
    EXPECT_EQ(*r.channels[0].deviation, 1.0);
}

TEST(AnalysisStatistics, StartingBoundsLimitWhatIsReported) {
    MeasurementMemory memory;
    memory.load({makeRow(-1e15, 1e15), makeRow(-2e15, 3e15)});
    const auto r = ComputeStatistics(memory);
    EXPECT_EQ(r.channels[0].maximum, kStartMaximum);
    EXPECT_EQ(r.channels[0].minimum, -2e15);
    EXPECT_EQ(r.channels[1].minimum, kStartMinimum);
    EXPECT_EQ(r.channels[1].maximum, 3e15);
    EXPECT_EQ(cell(r, 0, StatisticRow::Maximum), "-99999999999999.90625");
}

TEST(AnalysisStatistics, WrappedMemoryCountsFullRingOldestFirst) {
    MeasurementMemory memory;
    const int total = kMemoryCapacity + 5;
    for (int i = 0; i < total; ++i) {
        // Channel 2: the oldest surviving row (number 5) is 1e16, the rest 1.
        // Walking from WritePosition, each following +1 is lost to rounding and
        // the sum stays 1e16; walking from ring index 0 would give 1e16 + 4.
        memory.AppendSample(makeRow(i, i == 5 ? 1e16 : 1.0));
    }
    ASSERT_TRUE(memory.Wrapped());
    ASSERT_EQ(memory.WritePosition(), 5);
    const auto r = ComputeStatistics(memory);
    EXPECT_EQ(r.count, 10240);
    EXPECT_EQ(r.channels[0].minimum, 5.0);
    EXPECT_EQ(r.channels[0].maximum, total - 1.0);
    EXPECT_EQ(*r.channels[0].average, (5.0 + total - 1.0) / 2);
    EXPECT_EQ(r.channels[1].sum, 1e16);
}

TEST(AnalysisStatistics, TooFewRowsLeaveCellsUndefined) {
    MeasurementMemory memory;
    memory.load({makeRow(2.5)});
    auto r = ComputeStatistics(memory);
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(cell(r, 0, StatisticRow::Minimum), "2.50000");
    EXPECT_EQ(cell(r, 0, StatisticRow::Average), "2.50000");
    EXPECT_FALSE(r.channels[0].deviation.has_value());
    EXPECT_EQ(cell(r, 0, StatisticRow::Deviation), "");

    memory.clear();
    r = ComputeStatistics(memory);
    EXPECT_EQ(r.count, 0);
    for (int k = 0; k < 4; ++k) {
        for (auto row : {StatisticRow::Minimum, StatisticRow::Maximum, StatisticRow::Average,
                         StatisticRow::Deviation}) {
            EXPECT_EQ(cell(r, k, row), "");
        }
        EXPECT_FALSE(std::isnan(r.channels[static_cast<std::size_t>(k)].sum));
    }
}

// --- Print geometry ---------------------------------------------------------------

TEST(AnalysisPrintLayout, A4At600Dpi) {
    const auto l = computePrintLayout(4800, 600);
    EXPECT_EQ(l.chart.left, 0);
    EXPECT_EQ(l.chart.top, 1000);
    EXPECT_EQ(l.chart.right, 4800);
    EXPECT_EQ(l.chart.bottom, 3699);  // 4800 / 1.77777777778 truncates to 2699
    EXPECT_EQ(l.headerRight, 4724);
    EXPECT_EQ(l.headerTop, 236);
    EXPECT_EQ(l.leftX, 236);
    EXPECT_EQ(l.countTop, 3699);
    EXPECT_EQ(l.headingTop, 3935);
    EXPECT_EQ(l.columnRight, (std::array<int64_t, 4>{1889, 2834, 3779, 4724}));
    EXPECT_EQ(l.rowTop, (std::array<int64_t, 4>{4171, 4289, 4407, 4525}));
}

TEST(AnalysisPrintLayout, AxesUseTheirOwnResolutionAndTexts) {
    const auto l = computePrintLayout(2400, 300, 600);
    EXPECT_EQ(l.chart.bottom, 1000 + 1349);
    EXPECT_EQ(l.headerRight, 2362);  // 300 dpi across
    EXPECT_EQ(l.headerTop, 236);     // 600 dpi down
    EXPECT_EQ(l.rowTop[3], 2349 + 826);
    EXPECT_EQ(printCountLine(10240), "Number of datasets: 10240");
    EXPECT_STREQ(kPrintRowHeadings[3], "Standard deviation:");
}

// --- Chart helpers ----------------------------------------------------------------

TEST(AnalysisChart, PreferredYStep) {
    EXPECT_EQ(preferredYStep(0.5), 0.01);
    EXPECT_EQ(preferredYStep(10.0), std::nullopt);
    EXPECT_EQ(preferredYStep(9.99), 0.1);
    EXPECT_EQ(preferredYStep(1.0), 0.1);
    EXPECT_EQ(preferredYStep(0.1), 0.01);
    EXPECT_EQ(preferredYStep(0.05), 0.001);
    EXPECT_EQ(preferredYStep(0.005), 0.0001);
    EXPECT_EQ(preferredYStep(0.0005), 0.00001);
    EXPECT_EQ(preferredYStep(0.0), 0.00001);
    EXPECT_EQ(preferredYStep(-0.5), 0.01);
    EXPECT_EQ(preferredYStep(1e6), std::nullopt);
    EXPECT_EQ(preferredYStep(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
}

// Spans from 1e-4 to 1e10 below, around and above zero, on axes from a few
// labels high to a tall one: the Y label step is the preferred (or the
// automatic) step times 1, 2, 5, 10, 20 ..., its labels fit, and the next
// finer step of that series would not (or would pass below the start).
TEST(AnalysisChart, YLabelStepWidensOnlyAsFarAsLabelsNeed) {
    const double spans[] = {1e-4, 3e-4, 9e-4, 4e-3, 0.03, 0.2, 0.9,
                            3.5,  9.9,  10,   75,   4e3,  6e5, 1e10};
    const double offsets[] = {-1e9, -2345.5, 0.0, 0.25, 777.0, 1e9};
    const double heights[] = {30, 48, 60, 90, 140, 300, 520, 1400};
    // The 1-2-5 series as mantissa and decade of step / start.
    auto decompose = [](double ratio, int& mantissa, int& decade) {
        decade = static_cast<int>(std::floor(std::log10(ratio) + 1e-9));
        const double m = ratio / std::pow(10.0, decade);
        mantissa = static_cast<int>(std::lround(m));
        return std::fabs(m - mantissa) < 1e-6 && (mantissa == 1 || mantissa == 2 || mantissa == 5);
    };
    int widened = 0;
    for (double span : spans) {
        for (double offset : offsets) {
            for (double lo : {offset, offset - span / 2}) {
                const double hi = lo + span;
                for (double height : heights) {
                    YLabelRoom room;
                    room.textHeight = 16.5;
                    room.padding = 4;
                    room.plotHeight = std::max(1.0, height - 66);
                    room.axisHeight = height;
                    const std::optional<double> preferred = preferredYStep(hi - lo);
                    const double step = yLabelStep(lo, hi, preferred, room);
                    SCOPED_TRACE(testing::Message()
                                 << lo << ".." << hi << " in " << height << " px: step " << step);
                    // No labels only where not even one would fit.
                    ASSERT_EQ(step > 0, yLabelsFit(1, 0, room));
                    if (step == 0)
                        continue;
                    const std::size_t count = yLabelCount(lo, hi, step);
                    const double pixels = room.plotHeight / (hi - lo);
                    EXPECT_TRUE(yLabelsFit(count, step * pixels, room));
                    std::vector<double> ticks;
                    yLabelTicks(lo, hi, step, ticks);
                    ASSERT_EQ(ticks.size(), count);
                    // Within the range, up to the rounding of values near 1e9.
                    const double slack = step * 1e-6 + std::fabs(lo) * 1e-15;
                    for (double v : ticks)
                        EXPECT_TRUE(v >= lo - slack && v <= hi + slack) << v;
                    if (!preferred)
                        continue;
                    int mantissa = 0;
                    int decade = 0;
                    ASSERT_TRUE(decompose(step / *preferred, mantissa, decade));
                    ASSERT_GE(decade, 0);
                    if (mantissa == 1 && decade == 0)
                        continue;
                    ++widened;
                    const double finer =
                        *preferred * (mantissa == 1   ? 5 * std::pow(10.0, decade - 1)
                                      : mantissa == 2 ? std::pow(10.0, decade)
                                                      : 2 * std::pow(10.0, decade));
                    EXPECT_FALSE(yLabelsFit(yLabelCount(lo, hi, finer), finer * pixels, room))
                        << finer;
                }
            }
        }
    }
    EXPECT_GT(widened, 100);
    // No room for even one label: none.
    YLabelRoom tiny{20, 16.5, 4, 5};
    EXPECT_EQ(yLabelStep(0, 1, 0.1, tiny), 0.0);
    EXPECT_EQ(yLabelStep(1, 1, 0.1, YLabelRoom{500, 16.5, 4, 450}), 0.0);
}

TEST(AnalysisChart, AxisLabelAndLimitFormats) {
    EXPECT_EQ(formatAxisLabel(1234.5, '.', ','), "1,234.5");
    EXPECT_EQ(formatAxisLabel(0, '.', ','), "0");
    EXPECT_EQ(formatAxisLabel(0.1234567, '.', ','), "0.123457");
    EXPECT_EQ(formatAxisLabel(-1000, '.', ','), "-1,000");
    EXPECT_EQ(formatAxisLabel(999, '.', ','), "999");
    EXPECT_EQ(formatAxisLabel(-0.5, '.', ','), "-0.5");
    EXPECT_EQ(formatAxisLabel(1234567.25, ',', '.'), "1.234.567,25");
    EXPECT_EQ(formatAxisLabel(-0.0000001, '.', ','), "0");
    EXPECT_EQ(formatAxisLabel(-0.0, '.', ','), "0");
    EXPECT_EQ(formatAxisLabel(1e20, '.', ','), "100,000,000,000,000,000,000");
    // A group separator outside ASCII (French: narrow no-break space).
    EXPECT_EQ(formatAxisLabel(-1002.7, ",", "\u202f"), "-1\u202f002,7");

    EXPECT_EQ(formatLimit(4, '.'), "4.00");
    EXPECT_EQ(formatLimit(-2.5, ','), "-2,50");
    EXPECT_EQ(formatLimit(0.125, '.'), "0.12");
}

// Lowest and highest Y of every pixel column of [xMin, xMax].
struct ColumnSummary {
    double minY = std::numeric_limits<double>::infinity();
    double maxY = -std::numeric_limits<double>::infinity();
    bool operator==(const ColumnSummary&) const = default;
};

std::vector<ColumnSummary> summarise(const std::vector<Point>& pts, double xMin, double xMax,
                                     int columns) {
    std::vector<ColumnSummary> out(static_cast<std::size_t>(columns));
    for (const auto& p : pts) {
        if (p.x < xMin || p.x > xMax)
            continue;
        const int c =
            std::min(columns - 1, static_cast<int>((p.x - xMin) * columns / (xMax - xMin)));
        auto& s = out[static_cast<std::size_t>(c)];
        s.minY = std::min(s.minY, p.y);
        s.maxY = std::max(s.maxY, p.y);
    }
    return out;
}

std::vector<double> noisySignal(std::size_t n) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> y(n);
    double walk = 0;
    for (std::size_t i = 0; i < n; ++i) {
        walk += noise(rng);
        y[i] = walk + (i % 997 == 0 ? 50.0 : 0.0);  // occasional single-sample spikes
    }
    return y;
}

std::vector<Point> allPoints(const std::vector<double>& y) {
    std::vector<Point> p;
    for (std::size_t i = 0; i < y.size(); ++i)
        p.push_back({static_cast<double>(i), y[i]});
    return p;
}

void expectSubsetInOrder(const std::vector<Point>& reduced, const std::vector<double>& y) {
    for (std::size_t i = 0; i < reduced.size(); ++i) {
        const auto x = static_cast<std::size_t>(reduced[i].x);
        ASSERT_LT(x, y.size());
        EXPECT_EQ(reduced[i].y, y[x]);
        if (i > 0) {
            EXPECT_GT(reduced[i].x, reduced[i - 1].x);
        }
    }
}

TEST(AnalysisChart, ReductionKeepsEveryColumnsShape) {
    const auto y = noisySignal(kMemoryCapacity);
    const auto full = allPoints(y);
    std::vector<Point> reduced;
    const double xMax = kMemoryCapacity - 1;
    reduceMinMax(y.data(), y.size(), 0, xMax, 800, reduced);
    EXPECT_LE(reduced.size(), 2u * 800);
    expectSubsetInOrder(reduced, y);
    EXPECT_EQ(summarise(reduced, 0, xMax, 800), summarise(full, 0, xMax, 800));

    Extents fullExtents, reducedExtents;
    fullExtents.add(y.data(), y.size());
    std::vector<double> ry;
    for (const auto& p : reduced)
        ry.push_back(p.y);
    reducedExtents.add(ry.data(), ry.size());
    EXPECT_EQ(fullExtents.yMin, reducedExtents.yMin);
    EXPECT_EQ(fullExtents.yMax, reducedExtents.yMax);
}

// Values that could not be read (not a number) leave a gap at every zoom:
// no line joins two readable points across one, and the readable points
// still give every column its shape.
TEST(AnalysisChart, UnreadValuesLeaveAGapAtEveryZoom) {
    auto y = noisySignal(kMemoryCapacity);
    std::mt19937 rng(3);
    for (int run = 0; run < 60; ++run) {
        const std::size_t start = rng() % y.size();
        const std::size_t length = 1 + rng() % 40;
        for (std::size_t i = start; i < std::min(y.size(), start + length); ++i)
            y[i] = std::numeric_limits<double>::quiet_NaN();
    }
    const auto full = allPoints(y);
    std::vector<Point> reduced;
    for (int columns : {37, 333, 800, 3000}) {
        for (const auto& [xMin, xMax] : {std::pair{0.0, double(kMemoryCapacity - 1)},
                                         std::pair{1000.5, 9000.25}, std::pair{4000.0, 4100.0}}) {
            SCOPED_TRACE(std::to_string(columns) + " columns from " + std::to_string(xMin));
            reduceMinMax(y.data(), y.size(), xMin, xMax, columns, reduced);
            for (std::size_t k = 1; k < reduced.size(); ++k) {
                ASSERT_GT(reduced[k].x, reduced[k - 1].x);
                if (std::isnan(reduced[k].y) || std::isnan(reduced[k - 1].y))
                    continue;
                for (auto i = static_cast<std::size_t>(reduced[k - 1].x) + 1;
                     i < static_cast<std::size_t>(reduced[k].x); ++i)
                    ASSERT_FALSE(std::isnan(y[i])) << "a line across the gap at " << i;
            }
            EXPECT_EQ(summarise(reduced, xMin, xMax, columns), summarise(full, xMin, xMax, columns));
        }
    }
}

TEST(AnalysisChart, ZoomedReductionKeepsNeighboursOutside) {
    const auto y = noisySignal(kMemoryCapacity);
    std::vector<Point> reduced;
    reduceMinMax(y.data(), y.size(), 1000.5, 9000.25, 500, reduced);
    ASSERT_GE(reduced.size(), 3u);
    expectSubsetInOrder(reduced, y);
    // The nearest points outside the view on both sides, then only points
    // inside it.
    EXPECT_EQ(reduced.front().x, 1000);
    EXPECT_GE(reduced[1].x, 1001);
    EXPECT_EQ(reduced.back().x, 9001);
    EXPECT_LE(reduced[reduced.size() - 2].x, 9000);
    EXPECT_EQ(summarise(reduced, 1000.5, 9000.25, 500),
              summarise(allPoints(y), 1000.5, 9000.25, 500));

    // A view beside the data keeps only the nearest point.
    reduceMinMax(y.data(), y.size(), 20000, 30000, 500, reduced);
    ASSERT_EQ(reduced.size(), 1u);
    EXPECT_EQ(reduced[0].x, kMemoryCapacity - 1);
    reduceMinMax(y.data(), y.size(), -300, -100, 500, reduced);
    ASSERT_EQ(reduced.size(), 1u);
    EXPECT_EQ(reduced[0].x, 0);
}

TEST(AnalysisChart, SmallOrUnusableInputsComeBackUnchanged) {
    const auto y = noisySignal(1600);
    std::vector<Point> out;
    auto unchanged = [&] {
        ASSERT_EQ(out.size(), y.size());
        for (std::size_t i = 0; i < y.size(); ++i) {
            EXPECT_EQ(out[i].x, static_cast<double>(i));
            EXPECT_EQ(out[i].y, y[i]);
        }
    };
    reduceMinMax(y.data(), y.size(), 0, 1599, 800, out);  // exactly 2 per column
    unchanged();
    reduceMinMax(y.data(), y.size(), 0, 1599, 0, out);
    unchanged();
    reduceMinMax(y.data(), y.size(), 5, 5, 100, out);
    unchanged();
    reduceMinMax(y.data(), y.size(), 0, std::numeric_limits<double>::infinity(), 100, out);
    unchanged();
    const auto longer = noisySignal(1601);
    reduceMinMax(longer.data(), 1601, 0, 1600, 800, out);  // one more point is reduced
    EXPECT_LT(out.size(), 1601u);
    reduceMinMax(nullptr, 0, 0, 10, 10, out);
    EXPECT_TRUE(out.empty());
}

TEST(AnalysisChart, ExtentsOfAttachedSeriesOnly) {
    std::vector<SampleRow> rows = {makeRow(1, 100, -3, 7), makeRow(2, -100, 4, 8),
                                   makeRow(std::nan(""), 0, 0.5, 9)};
    std::array<std::vector<double>, 4> values;
    splitChannels(rows, values);
    EXPECT_EQ(values[2], (std::vector<double>{-3, 4, 0.5}));

    auto e = seriesExtents(values, {true, false, true, false});
    ASSERT_FALSE(e.empty);
    EXPECT_EQ(e.xMin, 0);
    EXPECT_EQ(e.xMax, 2);
    EXPECT_EQ(e.yMin, -3);
    EXPECT_EQ(e.yMax, 4);  // channel 1's NaN is skipped, channel 2 is not attached
    EXPECT_TRUE(seriesExtents(values, {false, false, false, false}).empty);
}

TEST(AnalysisColours, StandardListAndDefaults) {
    static_assert(StandardColours.size() == 16);
    const auto navy = standardColour(4);
    ASSERT_TRUE(navy.has_value());
    EXPECT_EQ(navy->name, "clNavy");
    EXPECT_EQ(navy->blue, 128);
    const char* defaults[] = {"clRed", "clLime", "clYellow", "clBlue"};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(standardColour(kDefaultColourIndex[k])->name, defaults[k]);
    }
    EXPECT_FALSE(standardColour(16).has_value());
    EXPECT_FALSE(standardColour(-1).has_value());
}

}  // namespace
