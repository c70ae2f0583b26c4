// Ingest throughput of the sampling thread over loopback, next to a plain
// reader that only receives the same stream. The simulated instrument streams
// as fast as the connection takes the records.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/mthread.h"
#include "app/settings.h"
#include "device/mtrans.h"
#include "device/replies.h"
#include "sim/instrument.h"

using namespace std::chrono_literals;
using tarvelo::acquisition::Check;
using tarvelo::acquisition::kRecordSize;

namespace {

const tarvelo::device::LinkTiming kTiming{10ms, 200ms};

std::unique_ptr<tarvelo::sim::Instrument> fastInstrument() {
    tarvelo::sim::InstrumentConfig config;
    config.recordsPerSecond = 0;
    auto sim = std::make_unique<tarvelo::sim::Instrument>(config);
    if (!sim->start())
        return nullptr;
    return sim;
}

void command(const tarvelo::sim::Instrument& sim, const char* text) {
    const int fd = tarvelo::device::connectTo("127.0.0.1", sim.commandPort(), 1000, 1000);
    tarvelo::device::exchange(fd, text, kTiming);
    tarvelo::device::closeSocket(fd);
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

}  // namespace

BENCHMARK_MAIN();
