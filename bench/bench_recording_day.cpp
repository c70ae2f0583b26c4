// A day of recording at 1000 samples/s, as `tarvelo-cli record --split 3600`
// leaves it: 24 files of an hour each, 86.4 million samples, about 6 GB.
// Opening the 24 files as one run (time, CPU, the program's peak memory), and
// taking a one-second stretch of it (1000 samples) as rows for the sample
// memory. The files are written by the program's own line writer into a
// folder under TMPDIR, two at a time, and removed at the end.
// TARVELO_BENCH_DAY_HOURS sets a shorter day (default 24).
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "files/csv_text.h"
#include "recording/recording_reader.h"
#include "recording/split_run.h"
#include "recording/stretch.h"

using namespace tarvelo;

namespace {

constexpr uint64_t kPerHour = 3'600'000;

int hoursWanted() {
    const char* text = std::getenv("TARVELO_BENCH_DAY_HOURS");
    return text ? std::max(1, std::atoi(text)) : 24;
}

struct Day {
    Day() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvelo-bench-day-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        folder = pattern;
        const int hours = hoursWanted();
        if (std::filesystem::space(folder).available < hours * kPerHour * 75 + (1ull << 30)) {
            std::fprintf(stderr, "bench_recording_day: too little disk space for %d hours\n", hours);
            std::abort();
        }
        for (int h = 0; h < hours; ++h) {
            char name[32];
            std::snprintf(name, sizeof name, "/day-%04d.csv", h + 1);
            paths.push_back(folder + name);
        }
        // Two files at a time, each as the recorder writes it: the header,
        // then its lines numbered from 1.
        std::atomic<int> next{0};
        auto writer = [&] {
            acquisition::SampleList captions;
            for (int h; (h = next.fetch_add(1)) < hours;) {
                std::FILE* file = std::fopen(paths[static_cast<std::size_t>(h)].c_str(), "wb");
                std::string text = files::csvHeaderLine(captions);
                std::minstd_rand random(static_cast<unsigned>(h + 1));
                acquisition::SampleRow row{};
                for (uint64_t k = 0; k < kPerHour; ++k) {
                    const uint64_t i = static_cast<uint64_t>(h) * kPerHour + k;
                    const double t = static_cast<double>(i) / 1000.0;
                    row.timeMs = 1765000000000.0 + static_cast<double>(i);
                    row.channel[0] = std::round((12.5 * std::sin(t / 7.0) + (random() % 1000) * 1e-4) * 1e5) / 1e5;
                    row.channel[1] = std::round((250.0 + 40.0 * std::sin(t / 60.0)) * 1e5) / 1e5;
                    row.channel[2] = (random() % 2000001) * 1e-5 - 10.0;
                    row.channel[3] = std::round((21.0 + t / 3600.0) * 1e5) / 1e5;
                    files::appendCsvLine(text, k + 1, row);
                    if (text.size() > (8u << 20)) {
                        std::fwrite(text.data(), 1, text.size(), file);
                        text.clear();
                    }
                }
                std::fwrite(text.data(), 1, text.size(), file);
                std::fclose(file);
            }
        };
        std::thread second(writer);
        writer();
        second.join();
        for (const auto& path : paths)
            bytes += std::filesystem::file_size(path);
    }
    ~Day() { std::filesystem::remove_all(folder); }

    std::string folder;
    std::vector<std::string> paths;
    uint64_t bytes = 0;
    std::unique_ptr<recording::Recording> opened;
};

Day& day() {
    static Day instance;
    return instance;
}

// Kilobytes of a line of /proc/self/status ("RssAnon:", "VmHWM:").
long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t length = std::char_traits<char>::length(key);
    while (std::getline(in, line))
        if (line.compare(0, length, key) == 0)
            return std::atol(line.c_str() + length);
    return -1;
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Opens the day's files, given in reverse, as one run. The peak of the
// program's own memory (anonymous pages) is sampled while it opens: the
// resident size also counts the files' pages while they are mapped, which
// are the page cache's.
void BM_OpenDay(benchmark::State& state) {
    auto& d = day();
    std::vector<std::string> reversed(d.paths.rbegin(), d.paths.rend());
    for (auto _ : state) {
        d.opened.reset();
        const long anonBefore = statusKb("RssAnon:");
        std::atomic<bool> done{false};
        std::mutex mutex;
        std::condition_variable wake;
        long anonPeak = anonBefore;
        std::thread sampler([&] {
            std::unique_lock lock(mutex);
            while (!done) {
                anonPeak = std::max(anonPeak, statusKb("RssAnon:"));
                wake.wait_for(lock, std::chrono::milliseconds(20));
            }
        });
        const double cpuBefore = cpuSeconds();
        const auto order = recording::orderSplitRun(reversed);
        auto outcome = recording::readRecordingFiles(order.paths);
        const double cpu = cpuSeconds() - cpuBefore;
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        wake.notify_all();
        sampler.join();
        if (!outcome.recording) {
            state.SkipWithError(outcome.error.c_str());
            break;
        }
        const auto& r = *outcome.recording;
        state.counters["samples"] = static_cast<double>(r.size());
        state.counters["gaps"] = static_cast<double>(r.gaps().size());
        state.counters["files"] = static_cast<double>(d.paths.size());
        state.counters["file_MB"] = static_cast<double>(d.bytes) / 1e6;
        state.counters["cpu_s"] = cpu;
        state.counters["held_MB"] = static_cast<double>(r.memoryBytes()) / 1e6;
        state.counters["bytes_per_sample"] =
            static_cast<double>(r.memoryBytes()) / static_cast<double>(r.size());
        state.counters["peak_own_MB"] = static_cast<double>(anonPeak - anonBefore) * 1024 / 1e6;
        state.counters["peak_resident_MB"] = static_cast<double>(statusKb("VmHWM:")) * 1024 / 1e6;
        if (r.size() != d.paths.size() * kPerHour || !r.gaps().empty())
            state.SkipWithError("the day did not open as one run without gaps");
        d.opened = std::move(outcome.recording);
    }
}
BENCHMARK(BM_OpenDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// `wc -l` over the same files: reading their bytes and nothing more.
void BM_DayWcL(benchmark::State& state) {
    auto& d = day();
    std::string command = "wc -l";
    for (const auto& path : d.paths)
        command += " '" + path + "'";
    command += " >/dev/null";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("wc -l failed");
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_DayWcL)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// A one-second stretch anywhere in the day as rows for the sample memory.
void BM_DayStretchToMemory(benchmark::State& state) {
    auto& d = day();
    if (!d.opened)
        d.opened = recording::readRecordingFiles(d.paths).recording;
    const auto& r = *d.opened;
    std::mt19937_64 random(4);
    const double first = static_cast<double>(r.timeMs(0));
    const double span = static_cast<double>(r.timeMs(r.size() - 1)) - first - 1000.0;
    uint64_t rows = 0;
    for (auto _ : state) {
        const double start = first + std::floor(span * static_cast<double>(random() % 1000000) / 1e6);
        const uint64_t from = r.lowerBound(start), to = r.lowerBound(start + 1000.0);
        const auto stretch = recording::stretchToMemory(r, from, to);
        if (!stretch.fits)
            state.SkipWithError("a second does not fit the memory");
        rows = stretch.rows.size();
        benchmark::DoNotOptimize(stretch.rows.data());
        if (rows != 1000)
            state.SkipWithError("a second is not 1000 samples");
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.SetLabel("stretchToMemory");
}
BENCHMARK(BM_DayStretchToMemory)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
