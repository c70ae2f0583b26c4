// The command-line program's recording at index 0 (every record a sample)
// against the simulated instrument's full-speed stream, next to a plain
// reader that only receives the same stream. Each iteration is one run of
// 250 ms; the time counted is the run's streaming part (from the start of the
// stream to its last receive) and, for the file, the writing of what is still
// queued when the run ends; the "#L01"/"#L02" exchanges do not count.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "acquisition/sample_list.h"
#include "acquisition/stream_recording.h"
#include "cli/output.h"
#include "cli/record_output.h"
#include "device/mtrans.h"
#include "device/replies.h"
#include "sim/instrument.h"
#include "stream_source.h"

using namespace std::chrono_literals;
using tarvelo::acquisition::RecordingPlan;
using tarvelo::acquisition::SampleRow;

namespace {

using tarvelo::bench::fastInstrument;

const tarvelo::device::LinkTiming kTiming{10ms, 1000ms};
constexpr auto kRun = 250ms;

RecordingPlan planFor(const tarvelo::sim::Instrument& sim) {
    RecordingPlan plan;
    plan.address = "127.0.0.1";
    plan.port = sim.commandPort();
    plan.sampleRate = 0;
    plan.duration = kRun;
    plan.timing = kTiming;
    return plan;
}

// Passes the samples on and checks that they are consecutive records: at
// index 0 the simulator's channel 1 grows by 0.25 from record to record.
class Checked : public tarvelo::acquisition::RecordingSink {
public:
    explicit Checked(tarvelo::acquisition::RecordingSink* next) : next_(next) {}
    bool samples(const SampleRow* rows, std::size_t n) override {
        for (std::size_t i = 0; i < n; ++i) {
            if (have_ && rows[i].channel[0] != last_ + 0.25)
                ++gaps;
            last_ = rows[i].channel[0];
            have_ = true;
        }
        return next_ ? next_->samples(rows, n) : true;
    }
    void progress(const tarvelo::acquisition::RecordingProgress& now) override {
        elapsed = now.elapsed;
    }
    uint64_t gaps = 0;
    std::chrono::steady_clock::duration elapsed{};

private:
    tarvelo::acquisition::RecordingSink* next_;
    double last_ = 0;
    bool have_ = false;
};

// `csv`: the samples go to a .csv file as the program writes it; otherwise
// they are only counted (the recording without its output).
void runRecording(benchmark::State& state, bool csv) {
    auto sim = fastInstrument();
    if (!sim) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    const RecordingPlan plan = planFor(*sim);
    const std::string path = "/tmp/bench_record." + std::to_string(::getpid()) + ".csv";
    const std::atomic<bool> stop{false};
    const tarvelo::acquisition::SampleList captions;
    uint64_t samples = 0, records = 0, gaps = 0;
    for (auto _ : state) {
        tarvelo::cli::RecordOutput output(tarvelo::cli::Target::Csv, plan);
        std::string error;
        if (csv && !output.open(path, captions, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        Checked checked(csv ? &output : nullptr);
        const auto result = tarvelo::acquisition::recordStream(plan, checked, stop);
        if (!result.ok()) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        // The time counted ends when the file is complete on the disk.
        const auto written = std::chrono::steady_clock::now();
        if (csv && !output.finish(tarvelo::cli::RunEnd::Complete, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        checked.elapsed += std::chrono::steady_clock::now() - written;
        state.SetIterationTime(std::chrono::duration<double>(checked.elapsed).count());
        samples += result.samples;
        records += result.records;
        gaps += checked.gaps;
    }
    ::unlink(path.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    // Every record received became a sample, in order.
    state.counters["lost"] = static_cast<double>(records - samples + gaps);
}

void BM_RecordToCsv(benchmark::State& state) {
    runRecording(state, true);
}
BENCHMARK(BM_RecordToCsv)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_RecordOnly(benchmark::State& state) {
    runRecording(state, false);
}
BENCHMARK(BM_RecordOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

// Only receives the same stream into a 64 KiB buffer and counts the records.
void BM_RecordPlainReader(benchmark::State& state) {
    auto sim = fastInstrument();
    if (!sim) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    const int fd = tarvelo::device::connectTo("127.0.0.1", sim->streamPort(), 1000, 0);
    if (fd < 0) {
        state.SkipWithError("stream port did not answer");
        return;
    }
    auto command = [&](const char* text) { tarvelo::bench::command(*sim, text, kTiming); };
    command(tarvelo::device::kCmdStreamStart);
    std::vector<unsigned char> buffer(64 * 1024);
    uint64_t bytes = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto until = start + kRun;
        while (std::chrono::steady_clock::now() < until) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                state.SkipWithError("stream ended");
                break;
            }
            bytes += static_cast<uint64_t>(n);
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    command(tarvelo::device::kCmdStreamStop);
    tarvelo::device::closeSocket(fd);
    state.SetItemsProcessed(static_cast<int64_t>(bytes / sizeof(SampleRow)));
}
BENCHMARK(BM_RecordPlainReader)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The lines below the header of every file of a split run.
uint64_t linesInFiles(const std::string& base, uint64_t files) {
    uint64_t lines = 0;
    for (uint64_t n = 1; n <= files; ++n) {
        const std::string path = tarvelo::cli::RecordOutput::splitName(base, n);
        std::ifstream in(path, std::ios::binary);
        std::string line;
        uint64_t count = 0;
        while (std::getline(in, line))
            ++count;
        lines += count > 0 ? count - 1 : 0;
        ::unlink(path.c_str());
    }
    return lines;
}

// A record at index 0 of the simulator's 1000 records a second, to .csv with
// --split 0.5 for 3 s of device time: six files. The process's CPU time (the
// simulator's threads included) in percent of one core, and the samples
// lost at the five boundaries (handed to the output but in no file, or a
// record missing between two files). The baseline: a plain reader of the
// same stream with the same simulator, so the difference is the recording's.
void BM_RecordSplitCpuAt1000(benchmark::State& state) {
    tarvelo::sim::InstrumentConfig config;
    config.recordsPerSecond = 1000;
    tarvelo::sim::Instrument sim(config);
    if (!sim.start()) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    RecordingPlan plan = planFor(sim);
    plan.duration = 3s;
    const std::string base = "/tmp/bench_split." + std::to_string(::getpid()) + ".csv";
    const std::atomic<bool> stop{false};
    const tarvelo::acquisition::SampleList captions;
    double cpu = 0;
    uint64_t lost = 0, files = 0;
    for (auto _ : state) {
        tarvelo::cli::RecordOutput output(tarvelo::cli::Target::Csv, plan, 500);
        std::string error;
        if (!output.open(base, captions, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        Checked checked(&output);
        const double before = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const auto result = tarvelo::acquisition::recordStream(plan, checked, stop);
        output.finish(tarvelo::cli::RunEnd::Complete, error);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = (processCpuSeconds() - before) / wall * 100.0;
        files = output.completedFiles() + 1;
        lost += result.samples - linesInFiles(base, files) + checked.gaps;
    }
    // The baseline: the same stream for as long, only received.
    const int fd = tarvelo::device::connectTo("127.0.0.1", sim.streamPort(), 100, 0);
    tarvelo::bench::command(sim, tarvelo::device::kCmdStreamStart, kTiming);
    std::vector<unsigned char> buffer(64 * 1024);
    const double before = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < plan.duration)
        (void)!::recv(fd, buffer.data(), buffer.size(), 0);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double plainCpu = (processCpuSeconds() - before) / wall * 100.0;
    tarvelo::bench::command(sim, tarvelo::device::kCmdStreamStop, kTiming);
    tarvelo::device::closeSocket(fd);
    state.counters["cpu_percent"] = cpu;
    state.counters["plain_cpu_percent"] = plainCpu;
    state.counters["lost"] = static_cast<double>(lost);
    state.counters["files"] = static_cast<double>(files);
}
BENCHMARK(BM_RecordSplitCpuAt1000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// An instrument switched off and on during a recording with --retry: the
// time from the new instrument accepting connections to the first sample of
// its stream in the recording, for downtimes of 0.5 s to 2.5 s (the tries
// then fall at different points of their back-off).
class FirstAfterGap : public tarvelo::acquisition::RecordingSink {
public:
    explicit FirstAfterGap(std::atomic<bool>& stop) : stop_(stop) {}
    bool samples(const SampleRow*, std::size_t) override {
        if (interrupted_ && !first_) {
            first_ = std::chrono::steady_clock::now();
            stop_.store(true);
        }
        return true;
    }
    void interrupted(const tarvelo::acquisition::RecordingGap&) override { interrupted_ = true; }
    std::optional<std::chrono::steady_clock::time_point> first_;

private:
    std::atomic<bool>& stop_;
    bool interrupted_ = false;
};

void BM_FirstSampleAfterRestart(benchmark::State& state) {
    const auto downtime = std::chrono::milliseconds(state.range(0));
    double ms = 0;
    for (auto _ : state) {
        tarvelo::sim::InstrumentConfig config;
        config.recordsPerSecond = 1000;
        auto sim = std::make_unique<tarvelo::sim::Instrument>(config);
        if (!sim->start()) {
            state.SkipWithError("simulated instrument did not start");
            return;
        }
        RecordingPlan plan = planFor(*sim);
        plan.duration = 0ms;
        plan.retry = 30s;
        plan.stallLimit = 1s;
        std::atomic<bool> stop{false};
        FirstAfterGap sink(stop);
        std::chrono::steady_clock::time_point accepting;
        std::thread restart([&] {
            std::this_thread::sleep_for(300ms);
            const uint16_t port = sim->commandPort();
            sim->stop();
            std::this_thread::sleep_for(downtime);
            tarvelo::sim::InstrumentConfig again = config;
            again.port = port;
            sim = std::make_unique<tarvelo::sim::Instrument>(again);
            while (!sim->start())
                std::this_thread::sleep_for(1ms);
            accepting = std::chrono::steady_clock::now();
        });
        tarvelo::acquisition::recordStream(plan, sink, stop);
        restart.join();
        if (!sink.first_) {
            state.SkipWithError("no sample after the restart");
            return;
        }
        ms = std::chrono::duration<double, std::milli>(*sink.first_ - accepting).count();
        state.SetIterationTime(ms / 1000.0);
    }
    state.counters["ms"] = ms;
}
BENCHMARK(BM_FirstSampleAfterRestart)
    ->Arg(500)
    ->Arg(1300)
    ->Arg(2500)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
