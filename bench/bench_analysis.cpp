#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "acquisition/measurement_memory.h"
#include "analysis/chart_support.h"
#include "analysis/statistics.h"

namespace {

using namespace tarvelo;

void fillMemory(acquisition::MeasurementMemory& memory) {
    for (int i = 0; i < acquisition::kMemoryCapacity + 123; ++i) {
        acquisition::SampleRow row{};
        for (int k = 0; k < 4; ++k)
            row.channel[k] = std::sin(i * 0.01 * (k + 1)) * 100 + k;
        memory.AppendSample(row);
    }
}

void BM_ComputeStatisticsFullMemory(benchmark::State& state) {
    acquisition::MeasurementMemory memory;
    fillMemory(memory);
    for (auto _ : state) {
        auto result = analysis::ComputeStatistics(memory);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ComputeStatisticsFullMemory)->Unit(benchmark::kMicrosecond);

void BM_ReduceFourSeriesTo800Columns(benchmark::State& state) {
    acquisition::MeasurementMemory memory;
    fillMemory(memory);
    std::vector<acquisition::SampleRow> rows;
    memory.copyChronological(rows);
    std::array<std::vector<double>, 4> values;
    analysis::splitChannels(rows, values);
    std::array<std::vector<analysis::Point>, 4> out;
    for (auto _ : state) {
        for (std::size_t k = 0; k < 4; ++k) {
            analysis::reduceMinMax(values[k].data(), values[k].size(), 0,
                                   acquisition::kMemoryCapacity - 1, 800, out[k]);
        }
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_ReduceFourSeriesTo800Columns)->Unit(benchmark::kMicrosecond);

// The whole core part of one refresh: copy the memory, split, extents, reduce.
void BM_RefreshDataPath(benchmark::State& state) {
    acquisition::MeasurementMemory memory;
    fillMemory(memory);
    std::vector<acquisition::SampleRow> rows;
    std::array<std::vector<double>, 4> values;
    std::array<std::vector<analysis::Point>, 4> out;
    for (auto _ : state) {
        memory.copyChronological(rows);
        analysis::splitChannels(rows, values);
        auto extents = analysis::seriesExtents(values, {true, true, true, true});
        for (std::size_t k = 0; k < 4; ++k) {
            analysis::reduceMinMax(values[k].data(), values[k].size(), extents.xMin, extents.xMax,
                                   800, out[k]);
        }
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_RefreshDataPath)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
