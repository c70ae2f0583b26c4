// Ingest throughput of the sampling thread over loopback, next to a plain
// reader that only receives the same stream. The simulated instrument streams
// as fast as the connection takes the records.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/mthread.h"
#include "app/settings.h"
#include "device/mtrans.h"
#include "device/replies.h"
#include "files/record_writer.h"
#include "sim/instrument.h"
#include "stream_source.h"

using namespace std::chrono_literals;
using tarvelo::acquisition::Check;
using tarvelo::acquisition::kRecordSize;

namespace {

using tarvelo::bench::fastInstrument;

const tarvelo::device::LinkTiming kTiming{10ms, 200ms};

void command(const tarvelo::sim::Instrument& sim, const char* text) {
    tarvelo::bench::command(sim, text, kTiming);
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::seconds limit = 10s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// What the main window does on the sampling thread for every report: keep the
// newest count and post an update only when none is pending. The pending
// flag is cleared by the benchmark's thread, standing in for the windows.
class CoalescingObserver : public tarvelo::acquisition::SamplingObserver {
public:
    void samplesStored(int32_t count) override {
        latest.store(count);
        if (!posted.exchange(true))
            posts.fetch_add(1, std::memory_order_relaxed);
    }
    void samplesStoredRun(int32_t first, int32_t n) override {
        samplesStored((first - 1 + n - 1) % tarvelo::acquisition::kMemoryCapacity + 1);
    }
    void memoryFull() override {}

    std::atomic<int32_t> latest{0};
    std::atomic<bool> posted{false};
    std::atomic<uint64_t> posts{0};
};

// The real thread with index 0 (one sample per record) into the real memory,
// reporting every sample as the window's observer does. Each iteration lets
// it run for 50 ms; items are the records consumed.
void BM_IngestCheck(benchmark::State& state) {
    auto sim = fastInstrument();
    if (!sim) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    tarvelo::app::Settings settings;
    settings.setIpServer("127.0.0.1");
    settings.port = sim->commandPort();
    settings.sampleRate = 0;
    tarvelo::acquisition::MeasurementMemory memory;
    CoalescingObserver observer;
    Check check(settings, memory, &observer, kTiming);
    check.start();
    command(*sim, tarvelo::device::kCmdStreamStart);
    if (!waitFor([&] { return check.recordsConsumed() > 0; })) {
        state.SkipWithError("no records arrived");
        return;
    }

    const uint64_t first = check.recordsConsumed();
    const uint64_t firstStored = check.samplesStored();
    for (auto _ : state) {
        // The windows take an update about every 10 ms while sampling runs.
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(10ms);
            observer.posted.store(false);
        }
    }
    const uint64_t consumed = check.recordsConsumed() - first;
    const uint64_t stored = check.samplesStored() - firstStored;

    command(*sim, tarvelo::device::kCmdStreamStop);
    waitFor([&] { return !sim->streaming(); });
    const bool complete = waitFor([&] { return check.recordsConsumed() == sim->recordsSent(); });
    state.SetItemsProcessed(static_cast<int64_t>(consumed));
    state.counters["stored"] = static_cast<double>(stored);
    state.counters["posts"] = static_cast<double>(observer.posts.load());
    state.counters["lost"] =
        complete ? 0.0 : static_cast<double>(sim->recordsSent() - check.recordsConsumed());
}
BENCHMARK(BM_IngestCheck)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// Only receives the same stream into a 64 KiB buffer and counts the bytes.
void BM_PlainReader(benchmark::State& state) {
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
    command(*sim, tarvelo::device::kCmdStreamStart);
    std::vector<unsigned char> buffer(Check::kReceiveBufferSize);
    uint64_t bytes = 0;
    for (auto _ : state) {
        const auto until = std::chrono::steady_clock::now() + 50ms;
        while (std::chrono::steady_clock::now() < until) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                state.SkipWithError("stream ended");
                break;
            }
            bytes += static_cast<uint64_t>(n);
        }
    }
    command(*sim, tarvelo::device::kCmdStreamStop);
    tarvelo::device::closeSocket(fd);
    state.SetItemsProcessed(static_cast<int64_t>(bytes / kRecordSize));
}
BENCHMARK(BM_PlainReader)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(40);

std::string scratchFile(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name + "_" + std::to_string(::getpid()) + ".asc";
}

// The recording writer alone, fed as fast as its queue takes the samples:
// the lines per second it formats and writes (export text, synced once a
// second). Items are the lines written; compare with BM_PlainReader's
// records per second.
void BM_RecordWriterThroughput(benchmark::State& state) {
    const std::string path = scratchFile("bench_record");
    tarvelo::files::RecordWriter writer;
    if (!writer.open(path, "h\r\n", tarvelo::files::exportLineFormatter(','))) {
        state.SkipWithError("cannot create the file");
        return;
    }
    std::vector<tarvelo::acquisition::SampleRow> run(4096);
    for (std::size_t i = 0; i < run.size(); ++i) {
        run[i] = {};
        run[i].channel[0] = 1000.0 + static_cast<double>(i) * 0.125;
        run[i].channel[1] = -3.0 * static_cast<double>(i);
        run[i].timeMs = 1.7e12 + static_cast<double>(i);
    }
    const uint64_t first = writer.written();
    for (auto _ : state) {
        const auto until = std::chrono::steady_clock::now() + 50ms;
        while (std::chrono::steady_clock::now() < until) {
            // Keep the queue at most half full: the producer of the program
            // never waits, this one only keeps the writer busy.
            if (writer.appended() - writer.written() < 100000)
                writer.append(run.data(), run.size());
            else
                std::this_thread::sleep_for(1ms);
        }
    }
    const uint64_t written = writer.written() - first;
    writer.close();
    std::remove(path.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(written));
    state.counters["failed"] = writer.failed() ? 1 : 0;
}
BENCHMARK(BM_RecordWriterThroughput)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(40);

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Sampling at index 0 with the simulator's 1000 records a second for 3 s,
// with and without recording (argument 1 / 0). The process's CPU time (the
// simulator's threads included) in percent of one core; the difference of
// the two is the recording's cost. "lost": samples stored but not written.
void BM_SamplingCpuAt1000(benchmark::State& state) {
    const bool record = state.range(0) != 0;
    tarvelo::sim::InstrumentConfig config;
    config.recordsPerSecond = 1000;
    tarvelo::sim::Instrument sim(config);
    if (!sim.start()) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    tarvelo::app::Settings settings;
    settings.setIpServer("127.0.0.1");
    settings.port = sim.commandPort();
    settings.sampleRate = 0;
    tarvelo::acquisition::MeasurementMemory memory;
    CoalescingObserver observer;
    Check check(settings, memory, &observer, kTiming);
    const std::string path = scratchFile("bench_record_cpu");
    auto writer = std::make_shared<tarvelo::files::RecordWriter>();
    if (record) {
        writer->open(path, "h\r\n", tarvelo::files::exportLineFormatter(','));
        check.setRecorder(writer);
    }
    check.start();
    command(sim, tarvelo::device::kCmdStreamStart);
    waitFor([&] { return check.samplesStored() > 0; });

    double cpu = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(3s);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = (processCpuSeconds() - before) / wall * 100.0;
    }
    command(sim, tarvelo::device::kCmdStreamStop);
    waitFor([&] { return !sim.streaming(); });
    waitFor([&] { return check.recordsConsumed() == sim.recordsSent(); });
    check.setRecorder(nullptr);
    writer->close();
    state.counters["cpu_percent"] = cpu;
    state.counters["stored"] = static_cast<double>(check.samplesStored());
    if (record)
        state.counters["lost"] = static_cast<double>(check.samplesStored() - writer->written());
    std::remove(path.c_str());
}
BENCHMARK(BM_SamplingCpuAt1000)
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
