#include "analysis/statistics.h"

#include <cmath>

#include "common/numbers.h"

namespace tarvelo::analysis {

namespace {

struct Accumulator {
    long double s1 = 0.0L;  // extended precision, as the deviation needs
    long double s2 = 0.0L;
    double first = 0.0;
    bool allEqual = true;
};

}  // namespace

StatisticsResult ComputeStatistics(const acquisition::MeasurementMemory& memory) {
    const auto snap = memory.snapshot();
    return ComputeStatistics(snap.rows);
}

StatisticsResult ComputeStatistics(const std::vector<acquisition::SampleRow>& chronological) {
    StatisticsResult result;
    result.count = static_cast<int32_t>(chronological.size());
    std::array<Accumulator, 4> acc;

    for (std::size_t i = 0; i < chronological.size(); ++i) {
        const auto& row = chronological[i];
        for (std::size_t k = 0; k < 4; ++k) {
            const double v = row.channel[k];
            // A value that could not be read is left out of its channel.
            if (std::isnan(v))
                continue;
            auto& ch = result.channels[k];
            auto& a = acc[k];
            if (ch.count == 0) {
                a.first = v;
            } else if (!(v == a.first)) {
                a.allEqual = false;
            }
            ++ch.count;
            if (v < ch.minimum)
                ch.minimum = v;
            if (v > ch.maximum)
                ch.maximum = v;
            // Held as double: rounded to float64 after every addition.
            ch.sum = ch.sum + v;
            const long double x = v;
            a.s1 += x;
            a.s2 += x * x;
        }
    }

    for (std::size_t k = 0; k < 4; ++k) {
        auto& ch = result.channels[k];
        const int32_t n = ch.count;
        if (n > 0)
            ch.average = ch.sum / static_cast<double>(n);
        if (n < 2)
            continue;
        const auto& a = acc[k];
        if (a.allEqual) {
            // The one-pass formula can leave a rounding residue of either sign
            // for equal values; their deviation is exactly 0.
            ch.deviation = 0.0;
            continue;
        }
        const long double ln = static_cast<long double>(n);
        long double variance = (a.s2 - a.s1 * a.s1 / ln) / (ln - 1.0L);
        if (variance < 0.0L)
            variance = 0.0L;  // rounding residue of nearly equal values
        ch.deviation = static_cast<double>(std::sqrt(variance));
    }
    return result;
}

std::optional<double> statisticValue(const StatisticsResult& result, int channelIndex,
                                     StatisticRow row) {
    if (channelIndex < 0 || channelIndex > 3)
        return std::nullopt;
    const auto& ch = result.channels[static_cast<std::size_t>(channelIndex)];
    switch (row) {
        case StatisticRow::Minimum:
            return ch.count > 0 ? std::optional<double>(ch.minimum) : std::nullopt;
        case StatisticRow::Maximum:
            return ch.count > 0 ? std::optional<double>(ch.maximum) : std::nullopt;
        case StatisticRow::Average:
            return ch.average;
        case StatisticRow::Deviation:
            return ch.deviation;
    }
    return std::nullopt;
}

std::string statisticCellText(const StatisticsResult& result, int channelIndex, StatisticRow row,
                              char decimalSeparator) {
    const auto value = statisticValue(result, channelIndex, row);
    if (!value)
        return {};
    return common::formatValue(*value, decimalSeparator);
}

}  // namespace tarvelo::analysis
