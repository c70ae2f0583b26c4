// Batch readouts against the simulated instrument over loopback, with the
// program's real timing (one connection per query, the fixed 100 ms wait),
// next to the protocol floor measured in the same run: the readout's number
// of exchanges times one plain exchange (connect, "#M01", close).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "acquisition/batch_readout.h"
#include "acquisition/measurement_memory.h"
#include "app/settings.h"
#include "device/mtrans.h"
#include "device/replies.h"
#include "sim/instrument.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kRecords = 4;

struct QuietUi : tarvelo::acquisition::BatchUi {
    void error(const char*) override { ++errors; }
    void rowAppended(const tarvelo::acquisition::SampleRow&) override {}
    int errors = 0;
};

struct QuietLink : tarvelo::device::LinkObserver {
    void showStatus(int) override {}
    void showSendError() override {}
};

struct Setup {
    Setup() {
        tarvelo::sim::InstrumentConfig config;
        config.batchCount = kRecords;
        sim = std::make_unique<tarvelo::sim::Instrument>(config);
        ok = sim->start();
        settings.setIpServer("127.0.0.1");
        settings.port = sim->commandPort();
        link = std::make_unique<tarvelo::device::DeviceLink>(settings, timeoutMs, &observer);
    }
    // Mean time of one plain exchange, in seconds.
    double plainExchange(int n = 5) {
        const auto start = Clock::now();
        for (int i = 0; i < n; ++i) {
            link->ConnectServer();
            link->SendReceive(tarvelo::device::kCmdBatchCount);
            link->DisconnectServer();
        }
        return std::chrono::duration<double>(Clock::now() - start).count() / n;
    }

    std::unique_ptr<tarvelo::sim::Instrument> sim;
    bool ok = false;
    tarvelo::app::Settings settings;
    std::atomic<int32_t> timeoutMs{1000};
    QuietLink observer;
    std::unique_ptr<tarvelo::device::DeviceLink> link;
};

template <typename Readout>
void runReadout(benchmark::State& state, Readout readout) {
    Setup setup;
    if (!setup.ok) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    double readoutSeconds = 0, floorSeconds = 0;
    uint64_t exchanges = 0;
    for (auto _ : state) {
        const double plain = setup.plainExchange();
        const uint64_t before = setup.sim->commandsReceived();
        const auto start = Clock::now();
        readout(setup);
        readoutSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        const uint64_t n = setup.sim->commandsReceived() - before;
        exchanges += n;
        floorSeconds += plain * static_cast<double>(n);
    }
    const double records = static_cast<double>(state.iterations()) * kRecords;
    state.counters["ms_per_record"] = readoutSeconds * 1e3 / records;
    state.counters["floor_ms_per_record"] = floorSeconds * 1e3 / records;
    state.counters["exchanges_per_record"] = static_cast<double>(exchanges) / records;
    state.counters["ratio"] = readoutSeconds / floorSeconds;
}

void BM_BatchToFile(benchmark::State& state) {
    const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                             "/bench_batch_" + std::to_string(::getpid()) + ".txt";
    runReadout(state, [&](Setup& setup) {
        QuietUi ui;
        if (tarvelo::acquisition::batchToFile(*setup.link, path, ui) !=
            tarvelo::acquisition::BatchFileResult::Written)
            state.SkipWithError("batch file not written");
    });
    std::remove(path.c_str());
}
BENCHMARK(BM_BatchToFile)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BatchToMemory(benchmark::State& state) {
    tarvelo::acquisition::MeasurementMemory memory;
    runReadout(state, [&](Setup& setup) {
        QuietUi ui;
        memory.clear();
        if (!tarvelo::acquisition::batchToMemory(*setup.link, memory, ui))
            state.SkipWithError("no row read");
    });
}
BENCHMARK(BM_BatchToMemory)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
