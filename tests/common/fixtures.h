#pragma once

// Test data shared by the core and the window tests.

#include <array>
#include <string>
#include <utility>

#include "acquisition/sample_row.h"
#include "sim/instrument.h"

namespace tarvelo::test {

// A row with the given channel values and time stamp, flag 0.
inline acquisition::SampleRow makeRow(double c1, double c2 = 0, double c3 = 0, double c4 = 0,
                                      double timeMs = 0) {
    acquisition::SampleRow row{};
    row.channel[0] = c1;
    row.channel[1] = c2;
    row.channel[2] = c3;
    row.channel[3] = c4;
    row.timeMs = timeMs;
    return row;
}

// A batch record whose peaks lie 0.5 above and 0.25 below its values.
inline sim::BatchRecord batchRecord(std::array<double, 4> value, double timeMs, std::string batch,
                                    std::string batchIndex) {
    sim::BatchRecord r;
    r.value = value;
    for (int c = 0; c < 4; ++c) {
        r.upperPeak[c] = value[c] + 0.5;
        r.lowerPeak[c] = value[c] - 0.25;
    }
    r.timeMs = timeMs;
    r.batch = std::move(batch);
    r.batchIndex = std::move(batchIndex);
    return r;
}

// A batch memory of three records ("#M01" answers 2): records 0 and 2 carry
// a batch name (record 0 a non-ASCII one), record 1 none.
inline sim::InstrumentConfig threeBatchRecords() {
    sim::InstrumentConfig config;
    config.batchRecords = {
        batchRecord({12.5, -0.003, 0, 1000}, 1700000000123, "Lot \xC4", "1"),
        batchRecord({1, 2, 3, 4}, 1700000060000, "", ""),
        batchRecord({0.125, 0, 0, 7.75}, 1700000120999, "B", "7"),
    };
    return config;
}

}  // namespace tarvelo::test
