// Publishing to Debian's mosquitto broker on loopback (started by the
// benchmark itself):
// - BM_PublishRecording: a recording at index 0 from the unpaced simulated
//   instrument published sample by sample at QoS 1, from the start of the
//   stream until the broker has acknowledged the last sample, next to
// - BM_PublishPlainLoop: a plain libmosquitto loop publishing the same
//   payloads to the same broker with the same settings (QoS 1, 20 in flight)
//   and waiting for the last acknowledgement. The broker is the limit here.
// - BM_PublishAt1000/0 and /1: `tarvelo-cli record` at 1000 samples/s to a
//   .csv file, without and with --publish: the program's CPU time per second
//   of run, and with publishing the latency from each record's device time
//   (the simulator's clock is the host's) to its arrival at a subscriber.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mosquitto.h>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "acquisition/stream_recording.h"
#include "broker.h"
#include "publish/publisher.h"
#include "publish/recording_publisher.h"
#include "sim/instrument.h"
#include "stream_source.h"

using namespace std::chrono_literals;
using namespace tarvelo;

namespace {

constexpr uint64_t kSamples = 100000;

struct SharedBroker {
    test::TempDir dir;
    test::Broker broker{dir};
    bool started = broker.start();
};

SharedBroker& sharedBroker() {
    static SharedBroker shared;
    return shared;
}

publish::PublisherOptions optionsFor(const std::string& prefix) {
    publish::PublisherOptions options;
    std::string error;
    options.url = *publish::parseBrokerUrl(sharedBroker().broker.url(prefix), error);
    options.clientId = "bench-" + std::to_string(::getpid());
    return options;
}

publish::Channels benchChannels() {
    return {{{"Channel 1 (N)", "N"},
             {"Channel 2 (mm)", "mm"},
             {"Channel 3 (N.C.)", std::nullopt},
             {"Channel 4 (V)", "V"}}};
}

void BM_PublishRecording(benchmark::State& state) {
    if (!sharedBroker().started) {
        state.SkipWithError("mosquitto did not start");
        return;
    }
    auto sim = bench::fastInstrument();
    if (!sim) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    acquisition::RecordingPlan plan;
    plan.address = "127.0.0.1";
    plan.port = sim->commandPort();
    plan.sampleRate = 0;
    plan.samples = kSamples;
    plan.timing = device::LinkTiming{10ms, 1000ms};
    const std::atomic<bool> stop{false};
    uint64_t samples = 0, lost = 0;
    for (auto _ : state) {
        publish::Publisher publisher(optionsFor("bench/recording"));
        std::string error;
        if (!publisher.start(benchChannels(), 5s, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        publish::RecordingPublisher sink(publisher, [](const std::string&) {});
        const auto start = std::chrono::steady_clock::now();
        const auto result = acquisition::recordStream(plan, sink, stop);
        const auto counts = publisher.finish("completed", 120s);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (!result.ok()) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        samples += counts.samples;
        lost += counts.samples - counts.acknowledged;
    }
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_PublishRecording)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

struct Acks {
    std::mutex mutex;
    std::condition_variable done;
    uint64_t count = 0;
    bool connected = false;
};

void BM_PublishPlainLoop(benchmark::State& state) {
    if (!sharedBroker().started) {
        state.SkipWithError("mosquitto did not start");
        return;
    }
    // The payloads a recording at index 0 of the simulator would publish.
    std::vector<std::string> payloads(kSamples);
    for (uint64_t i = 0; i < kSamples; ++i) {
        acquisition::SampleRow row{};
        for (int c = 0; c < 4; ++c)
            row.channel[c] = sim::Instrument::recordValue(i, c + 1);
        row.timeMs = 1.7e12 + static_cast<double>(i);
        publish::appendSamplePayload(payloads[i], i + 1, row, {true, true, false, true});
    }
    const std::string topic = "bench/plain/samples";
    uint64_t samples = 0, lost = 0;
    for (auto _ : state) {
        Acks acks;
        mosquitto* client = mosquitto_new(("bench-plain-" + std::to_string(::getpid())).c_str(),
                                          true, &acks);
        mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_callback_set(client, [](mosquitto*, void* data, int rc) {
            auto* a = static_cast<Acks*>(data);
            std::lock_guard lock(a->mutex);
            a->connected = rc == 0;
            a->done.notify_all();
        });
        mosquitto_publish_callback_set(client, [](mosquitto*, void* data, int) {
            auto* a = static_cast<Acks*>(data);
            std::lock_guard lock(a->mutex);
            ++a->count;
            a->done.notify_all();
        });
        mosquitto_connect(client, "127.0.0.1", sharedBroker().broker.port(), 10);
        mosquitto_loop_start(client);
        {
            std::unique_lock lock(acks.mutex);
            acks.done.wait_for(lock, 10s, [&] { return acks.connected; });
        }
        const auto start = std::chrono::steady_clock::now();
        for (const auto& payload : payloads)
            mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, false);
        {
            std::unique_lock lock(acks.mutex);
            acks.done.wait_for(lock, 120s, [&] { return acks.count == kSamples; });
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        samples += kSamples;
        lost += kSamples - acks.count;
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
    }
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_PublishPlainLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Milliseconds since 1970 of a sample's "time" ("2026-12-09T21:15:52.844").
double sampleTimeMs(const std::string& payload) {
    const auto at = payload.find("\"time\": \"");
    std::tm tm{};
    int millis = 0;
    if (at == std::string::npos ||
        std::sscanf(payload.c_str() + at + 9, "%d-%d-%dT%d:%d:%d.%d", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &millis) != 7)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<double>(timegm(&tm)) * 1000.0 + millis;
}

void BM_PublishAt1000(benchmark::State& state) {
    const bool publishing = state.range(0) == 1;
    if (!sharedBroker().started) {
        state.SkipWithError("mosquitto did not start");
        return;
    }
    // The signal stream: time stamps on the device clock, which is the host's.
    sim::InstrumentConfig config;
    config.stream = sim::StreamSignal::Signal;
    sim::Instrument sim(config);
    if (!sim.start()) {
        state.SkipWithError("simulated instrument did not start");
        return;
    }
    const std::string prefix = "bench/at1000";
    std::unique_ptr<test::Subscriber> subscriber;
    if (publishing) {
        subscriber = std::make_unique<test::Subscriber>(sharedBroker().broker.port(),
                                                        "bench-subscriber", std::vector<std::string>{prefix + "/#"});
        subscriber->ready();
    }
    test::TempDir dir;
    double cpu = 0, median = 0, p99 = 0;
    uint64_t samples = 0;
    for (auto _ : state) {
        std::vector<std::string> argv = {TARVELO_CLI_BINARY, "--address", "127.0.0.1", "--port",
                                         std::to_string(sim.commandPort()), "record", "--seconds",
                                         "10", "--rate", "0", "--out", dir.file("run.csv")};
        if (publishing)
            argv.insert(argv.end(), {"--publish", sharedBroker().broker.url(prefix)});
        const auto start = std::chrono::steady_clock::now();
        test::Process cli(dir.file("out"), dir.file("err"), argv);
        rusage usage{};
        int status = 0;
        ::wait4(cli.pid(), &status, 0, &usage);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError(("tarvelo-cli failed: " + cli.err()).c_str());
            return;
        }
        const double seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        cpu = seconds / wall * 100.0;
        if (publishing) {
            subscriber->waitForText(prefix + "/status", "\"undelivered\"");
            std::vector<double> latencies;
            for (const auto& message : subscriber->messages()) {
                if (message.topic != prefix + "/samples")
                    continue;
                const double received = std::chrono::duration<double, std::milli>(
                                            message.received.time_since_epoch())
                                            .count();
                latencies.push_back(received - sampleTimeMs(message.payload));
            }
            std::sort(latencies.begin(), latencies.end());
            samples = latencies.size();
            if (!latencies.empty()) {
                median = latencies[latencies.size() / 2];
                p99 = latencies[latencies.size() * 99 / 100];
            }
        }
    }
    state.counters["cpu_percent"] = cpu;
    if (publishing) {
        state.counters["latency_median_ms"] = median;
        state.counters["latency_p99_ms"] = p99;
        state.counters["samples"] = static_cast<double>(samples);
    }
}
BENCHMARK(BM_PublishAt1000)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
