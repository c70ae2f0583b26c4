// Opening a long recording and asking it for what a view needs, next to the
// baselines of the same run on the same file: `wc -l` (reading the bytes and
// nothing more) and pandas' read_csv (what an operator would write instead).
// The file is tarvelo-cli's CSV, written by the program's own line writer:
// TARVELO_BENCH_RECORDING_SAMPLES samples (default 10 million, about 710 MB)
// in a folder under TMPDIR, removed at the end.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "acquisition/sample_list.h"
#include "files/csv_text.h"
#include "recording/recording_reader.h"

using namespace tarvelo;

namespace {

uint64_t samplesWanted() {
    const char* text = std::getenv("TARVELO_BENCH_RECORDING_SAMPLES");
    return text ? std::strtoull(text, nullptr, 10) : 10'000'000;
}

struct Fixture {
    Fixture() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvelo-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        folder = pattern;
        path = folder + "/run.csv";
        const uint64_t n = samplesWanted();
        // Room for the file with a margin, or no file at all.
        if (std::filesystem::space(folder).available < n * 80 + (1ull << 30)) {
            std::fprintf(stderr, "bench_recording: too little disk space for %llu samples\n",
                         static_cast<unsigned long long>(n));
            std::abort();
        }
        std::FILE* file = std::fopen(path.c_str(), "wb");
        acquisition::SampleList captions;
        std::string text = files::csvHeaderLine(captions);
        std::mt19937 random(1);
        // The simulator's signals at 1000 samples/s: slow waves with noise.
        acquisition::SampleRow row{};
        for (uint64_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / 1000.0;
            row.timeMs = 1765000000000.0 + static_cast<double>(i);
            row.channel[0] = 12.5 * std::sin(t / 7.0) + (random() % 1000) * 1e-4;
            row.channel[1] = 250.0 + 40.0 * std::sin(t / 60.0);
            row.channel[2] = (random() % 2000001) * 1e-5 - 10.0;
            row.channel[3] = 21.0 + t / 3600.0;
            files::appendCsvLine(text, i + 1, row);
            if (text.size() > (8u << 20)) {
                std::fwrite(text.data(), 1, text.size(), file);
                text.clear();
            }
        }
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        bytes = std::filesystem::file_size(path);
        auto outcome = recording::readRecording(path);
        if (!outcome.recording) {
            std::fprintf(stderr, "bench_recording: %s\n", outcome.error.c_str());
            std::abort();
        }
        opened = std::move(outcome.recording);
    }
    ~Fixture() { std::filesystem::remove_all(folder); }

    std::string folder;
    std::string path;
    uint64_t bytes = 0;
    std::unique_ptr<recording::Recording> opened;
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

// Seconds a shell command takes, or a negative number when it failed.
double timeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status == 0 ? seconds : -1.0;
}

void BM_OpenRecording(benchmark::State& state) {
    auto& f = fixture();
    recording::ReadOptions options;
    options.threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        auto outcome = recording::readRecording(f.path, options);
        if (!outcome.recording)
            state.SkipWithError(outcome.error.c_str());
        benchmark::DoNotOptimize(outcome.recording->size());
        state.counters["bytes_per_sample"] = static_cast<double>(outcome.recording->memoryBytes()) /
                                             static_cast<double>(outcome.recording->size());
    }
    state.counters["samples"] = static_cast<double>(f.opened->size());
    state.counters["file_MB"] = static_cast<double>(f.bytes) / 1e6;
}
// 0: one thread per processor.
BENCHMARK(BM_OpenRecording)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_WcL(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        const double seconds = timeCommand("wc -l '" + f.path + "' >/dev/null");
        if (seconds < 0)
            state.SkipWithError("wc -l failed");
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_WcL)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// pandas measures itself, without the start of Python and the import.
void BM_PandasReadCsv(benchmark::State& state) {
    auto& f = fixture();
    const std::string out = f.folder + "/pandas.txt";
    for (auto _ : state) {
        const std::string command =
            "/usr/bin/python3 -c 'import sys, time, pandas; t = time.perf_counter(); "
            "pandas.read_csv(sys.argv[1]); print(time.perf_counter() - t)' '" +
            f.path + "' >'" + out + "' 2>/dev/null";
        if (timeCommand(command) < 0) {
            state.SkipWithError("python3-pandas is not installed");
            break;
        }
        std::FILE* file = std::fopen(out.c_str(), "r");
        double seconds = 0;
        if (!file || std::fscanf(file, "%lf", &seconds) != 1)
            state.SkipWithError("no time from pandas");
        if (file)
            std::fclose(file);
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_PandasReadCsv)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void BM_StatisticsWholeRun(benchmark::State& state) {
    auto& r = *fixture().opened;
    for (auto _ : state)
        benchmark::DoNotOptimize(r.statistics(0, r.size()));
}
BENCHMARK(BM_StatisticsWholeRun)->Unit(benchmark::kMillisecond);

// Stretches of random place and length.
void BM_StatisticsStretch(benchmark::State& state) {
    auto& r = *fixture().opened;
    std::mt19937_64 random(2);
    for (auto _ : state) {
        const uint64_t from = random() % r.size();
        const uint64_t to = from + 1 + random() % (r.size() - from);
        benchmark::DoNotOptimize(r.statistics(from, to));
    }
}
BENCHMARK(BM_StatisticsStretch)->Unit(benchmark::kMillisecond);

// The envelope of 1920 pixel columns: the whole run, and a view of 1/range(0) of it.
void BM_Envelope(benchmark::State& state) {
    auto& r = *fixture().opened;
    const double first = static_cast<double>(r.timeMs(0));
    const double span = static_cast<double>(r.timeMs(r.size() - 1)) - first;
    const double view = span / static_cast<double>(state.range(0));
    std::mt19937_64 random(3);
    for (auto _ : state) {
        const double start = first + (span - view) * static_cast<double>(random() % 1000) / 1000.0;
        benchmark::DoNotOptimize(r.envelope(start, start + view, 1920));
    }
}
BENCHMARK(BM_Envelope)->Arg(1)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
