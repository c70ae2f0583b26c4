// The command-line program's recording at index 0 (every record a sample)
// against the simulated instrument's full-speed stream, next to a plain
// reader that only receives the same stream. Each iteration is one run of
// 250 ms; the time counted is the run's streaming part (from the start of the
// stream to its last receive) and, for the file, the writing of what is still
// queued when the run ends; the "#L01"/"#L02" exchanges do not count.
#include <atomic>
#include <chrono>
#include <cstdio>
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
        if (csv && !output.finish(true, error)) {
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

}  // namespace

BENCHMARK_MAIN();
