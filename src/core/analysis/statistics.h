#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_row.h"

namespace tarvelo::analysis {

// Starting bounds of the minimum and maximum: a channel whose values all lie
// beyond them reports the bound itself.
inline constexpr double kStartMinimum = 99999999999999.9;
inline constexpr double kStartMaximum = -99999999999999.9;

struct ChannelStatistics {
    // Values taken into account: the data sets whose value of this channel
    // could be read (not a number marks one that could not).
    int32_t count = 0;
    double minimum = kStartMinimum;
    double maximum = kStartMaximum;
    double sum = 0.0;                 // float64 running sum, rounded after every addition
    std::optional<double> average;    // none without values (0 / 0)
    std::optional<double> deviation;  // sample deviation (n - 1); none below two values
};

struct StatisticsResult {
    int32_t count = 0;  // data sets taken into account
    std::array<ChannelStatistics, 4> channels;

    // Minimum and maximum describe data only when there is at least one row;
    // with none they are still the starting bounds.
    bool hasExtremes() const { return count > 0; }
};

// Over one snapshot of the memory, so a sampling thread appending meanwhile
// cannot make the count and the rows walked disagree.
StatisticsResult ComputeStatistics(const acquisition::MeasurementMemory& memory);

// Over rows already in chronological order (oldest first); count = rows.size().
StatisticsResult ComputeStatistics(const std::vector<acquisition::SampleRow>& chronological);

enum class StatisticRow { Minimum, Maximum, Average, Deviation };

// The optional value of one cell; empty when it is undefined.
std::optional<double> statisticValue(const StatisticsResult& result, int channelIndex,
                                     StatisticRow row);

// The text of one value cell ("%.5f" with the given decimal separator);
// an undefined cell (no data sets, or the deviation of fewer than two) is the
// empty text. channelIndex is 0..3.
std::string statisticCellText(const StatisticsResult& result, int channelIndex, StatisticRow row,
                              char decimalSeparator);

}  // namespace tarvelo::analysis
