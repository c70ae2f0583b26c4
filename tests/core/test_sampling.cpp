#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/mthread.h"
#include "app/settings.h"
#include "device/mtrans.h"
#include "device/replies.h"
#include "files/export_text.h"
#include "files/record_writer.h"
#include "sim/instrument.h"
#include "fixtures.h"
#include "support.h"

using namespace std::chrono_literals;
using tarvelo::acquisition::Check;
using tarvelo::acquisition::kMemoryCapacity;
using tarvelo::acquisition::MeasurementMemory;
using tarvelo::acquisition::SampleRow;
using tarvelo::acquisition::SamplingObserver;
using tarvelo::device::LinkTiming;
using tarvelo::sim::Instrument;
using tarvelo::sim::StreamFault;

namespace {

const LinkTiming kFast{10ms, 200ms};

using tarvelo::test::eventually;
using tarvelo::test::kHung;
using tarvelo::test::kNotReached;

class Recorder : public SamplingObserver {
public:
    void samplesStored(int32_t count) override {
        std::lock_guard lock(mutex_);
        counts_.push_back(count);
        ++countsSinceFull_;
    }
    void memoryFull() override {
        std::lock_guard lock(mutex_);
        ++memoryFulls_;
        countsSinceFull_ = 0;
    }
    std::vector<int32_t> counts() const {
        std::lock_guard lock(mutex_);
        return counts_;
    }
    int memoryFulls() const {
        std::lock_guard lock(mutex_);
        return memoryFulls_;
    }
    // The memory-full procedure has run and its drain has ended: the stream
    // went quiet and the thread reported its count again.
    bool drainEnded() const {
        std::lock_guard lock(mutex_);
        return memoryFulls_ > 0 && countsSinceFull_ > 0;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int32_t> counts_;
    int memoryFulls_ = 0;
    int countsSinceFull_ = 0;
};

SampleRow record(int i) {
    SampleRow r{};
    for (int c = 0; c < 4; ++c)
        r.channel[c] = 10.0 * (c + 1) + i;
    r.timeMs = 1.7e12 + i;
    r.deviceFlag = static_cast<uint8_t>(i % 256);
    std::memset(r.padding, 0xEE, sizeof r.padding);  // must not reach the memory
    return r;
}

// A stream port whose bytes the test writes itself, for exact record counts.
class ScriptedStream {
public:
    ScriptedStream() {
        for (;;) {
            listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int one = 1;
            ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof a;
            ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len);
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
            port_ = ntohs(a.sin_port);
            if (port_ > 2 && ::listen(listen_, 4) == 0)
                break;
            ::close(listen_);
        }
    }
    ~ScriptedStream() {
        closeClient();
        ::close(listen_);
    }
    // The command port the thread is given: the stream port is Port + 2.
    int commandPort() const { return port_ - 2; }

    bool accept(std::chrono::milliseconds limit = 3s) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1)
            return false;
        client_ = ::accept(listen_, nullptr, nullptr);
        return client_ >= 0;
    }
    void sendBytes(const void* data, std::size_t n) {
        ASSERT_EQ(::send(client_, data, n, MSG_NOSIGNAL), static_cast<ssize_t>(n));
    }
    void sendRecords(int first, int count) {
        std::vector<SampleRow> rows;
        for (int i = first; i < first + count; ++i)
            rows.push_back(record(i));
        sendBytes(rows.data(), rows.size() * sizeof(SampleRow));
    }
    void closeClient() {
        if (client_ >= 0)
            ::close(client_);
        client_ = -1;
    }
    void closeListener() {
        ::close(listen_);
        listen_ = -1;
    }
    void listenAgain() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port_);
        ASSERT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listen_, 4), 0);
    }

private:
    int listen_ = -1;
    int client_ = -1;
    uint16_t port_ = 0;
};

// One thread against a scripted stream port.
class ScriptedSampling : public ::testing::Test {
protected:
    void SetUp() override {
        settings.setIpServer("127.0.0.1");
        settings.port = stream.commandPort();
    }
    void startAndAccept() {
        check.start();
        ASSERT_TRUE(stream.accept());
    }
    void waitConsumed(uint64_t n) {
        ASSERT_TRUE(eventually([&] { return check.recordsConsumed() == n; }))
            << check.recordsConsumed() << " of " << n;
    }

    ScriptedStream stream;
    tarvelo::app::Settings settings;
    MeasurementMemory memory;
    Recorder observer;
    Check check{settings, memory, &observer, kFast};
};

void expectRow(const SampleRow& row, const double (&channel)[4], int lastRecord) {
    for (int c = 0; c < 4; ++c)
        EXPECT_DOUBLE_EQ(row.channel[c], channel[c]) << "channel " << c + 1;
    EXPECT_EQ(row.timeMs, record(lastRecord).timeMs);
    EXPECT_EQ(row.deviceFlag, lastRecord % 256);
    for (uint8_t b : row.padding)
        EXPECT_EQ(b, 0);
}

}  // namespace

TEST_F(ScriptedSampling, DefaultIndexAveragesHundredRecordsWithTheLastTimeStamp) {
    startAndAccept();
    stream.sendRecords(0, 250);
    waitConsumed(250);
    ASSERT_EQ(check.samplesStored(), 2u);
    ASSERT_EQ(memory.WritePosition(), 2);
    // Mean of i = 0..99 is 49.5, of 100..199 is 149.5; 50 records wait for more.
    expectRow(memory.row(0), {59.5, 69.5, 79.5, 89.5}, 99);
    expectRow(memory.row(1), {159.5, 169.5, 179.5, 189.5}, 199);
    EXPECT_EQ(observer.counts(), (std::vector<int32_t>{1, 2}));
}

TEST_F(ScriptedSampling, IndexZeroCopiesEveryRecordAndTimeOutsReportTheCount) {
    settings.sampleRate = 0;
    startAndAccept();
    SampleRow odd = record(7);
    odd.channel[0] = 1.0 / 3.0;
    odd.channel[3] = -2.5e10;
    stream.sendRecords(0, 2);
    stream.sendBytes(&odd, sizeof odd);
    waitConsumed(3);
    expectRow(memory.row(0), {10, 20, 30, 40}, 0);
    expectRow(memory.row(2), {1.0 / 3.0, 27, 37, -2.5e10}, 7);
    // Quiet stream: every receive time-out repeats the current count.
    ASSERT_TRUE(eventually([&] { return observer.counts().size() >= 5; }));
    const auto counts = observer.counts();
    EXPECT_EQ((std::vector<int32_t>(counts.begin(), counts.begin() + 5)),
              (std::vector<int32_t>{1, 2, 3, 3, 3}));
}

TEST_F(ScriptedSampling, RecordsAreAssembledHoweverTheBytesArrive) {
    settings.sampleRate = 0;
    startAndAccept();
    std::vector<SampleRow> rows{record(0), record(1), record(2)};
    const auto* bytes = reinterpret_cast<const unsigned char*>(rows.data());
    // 20 + 28, then 1 byte, then the rest of record 1 with half of record 2.
    for (auto [from, to] : {std::pair{0, 20}, {20, 48}, {48, 49}, {49, 120}, {120, 144}}) {
        stream.sendBytes(bytes + from, to - from);
        std::this_thread::sleep_for(20ms);
    }
    waitConsumed(3);
    for (int i = 0; i < 3; ++i)
        expectRow(memory.row(i), {10.0 + i, 20.0 + i, 30.0 + i, 40.0 + i}, i);
}

TEST_F(ScriptedSampling, IndexChangeMidSampleCompletesWithTheNewCount) {
    settings.sampleRate = 8;  // 500 records
    startAndAccept();
    stream.sendRecords(0, 40);
    waitConsumed(40);
    settings.sampleRate = 3;  // 10 records
    stream.sendRecords(40, 1);
    waitConsumed(41);
    ASSERT_EQ(memory.WritePosition(), 1);
    // The sum of the 41 records 0..40 divided by 10; then a sample of 10.
    const double s = 41 * 20.0;  // sum of i over 0..40 is 820
    expectRow(memory.row(0), {(410 + s) / 10, (820 + s) / 10, (1230 + s) / 10, (1640 + s) / 10},
              40);
    stream.sendRecords(41, 10);
    waitConsumed(51);
    expectRow(memory.row(1), {55.5, 65.5, 75.5, 85.5}, 50);
}

TEST_F(ScriptedSampling, TheTenThousandTwoHundredFortiethSampleShowsItsCountAndWraps) {
    settings.sampleRate = 0;
    startAndAccept();
    stream.sendRecords(0, kMemoryCapacity + 1);
    waitConsumed(kMemoryCapacity + 1);
    const auto counts = observer.counts();
    ASSERT_GE(counts.size(), 3u);
    EXPECT_EQ((std::vector<int32_t>(counts.begin() + kMemoryCapacity - 2,
                                    counts.begin() + kMemoryCapacity + 1)),
              (std::vector<int32_t>{kMemoryCapacity - 1, kMemoryCapacity, 1}));
    const auto state = memory.state();
    EXPECT_TRUE(state.wrapped);
    EXPECT_EQ(state.writePosition, 1);
    EXPECT_EQ(memory.row(0).timeMs, record(kMemoryCapacity).timeMs);
    EXPECT_EQ(check.memoryFullRuns(), 0);
}

TEST_F(ScriptedSampling, LostConnectionDropsThePartialSampleAndReconnects) {
    startAndAccept();
    stream.sendRecords(0, 50);
    waitConsumed(50);
    stream.closeClient();
    ASSERT_TRUE(eventually([&] { return !check.connected(); }));
    ASSERT_TRUE(stream.accept());  // within the reconnect interval
    ASSERT_TRUE(eventually([&] { return check.streamConnects() == 2; }));
    stream.sendRecords(1000, 100);
    waitConsumed(150);
    // One sample, the mean of the 100 records of the new connection only.
    ASSERT_EQ(memory.WritePosition(), 1);
    expectRow(memory.row(0), {1059.5, 1069.5, 1079.5, 1089.5}, 1099);
}

TEST_F(ScriptedSampling, MemoryFullDropsThePartialSampleWithTheDiscardedRecords) {
    settings.sampleRate = 3;  // 10 records
    startAndAccept();
    stream.sendRecords(0, 15);  // one sample, 5 records summed towards the next
    waitConsumed(15);
    ASSERT_EQ(memory.WritePosition(), 1);

    memory.load(std::vector<SampleRow>(kMemoryCapacity));
    stream.sendRecords(15, 1);  // finds the memory full: the procedure runs
    ASSERT_TRUE(eventually([&] { return observer.memoryFulls() == 1; }));
    waitConsumed(16);
    ASSERT_TRUE(eventually([&] { return observer.drainEnded(); }));

    // The next sample is the mean of the 10 records after the drain alone.
    stream.sendRecords(100, 10);
    waitConsumed(26);
    const auto state = memory.state();
    ASSERT_TRUE(state.wrapped);
    ASSERT_EQ(state.writePosition, 1);
    expectRow(memory.row(0), {114.5, 124.5, 134.5, 144.5}, 109);
    EXPECT_EQ(check.recordsDiscarded(), 1u);
}

TEST_F(ScriptedSampling, FailedConnectAtStartIsRetried) {
    stream.closeListener();
    check.start();
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(check.connected());
    stream.listenAgain();
    ASSERT_TRUE(stream.accept(3s));
    EXPECT_TRUE(eventually([&] { return check.connected(); }));
}

TEST_F(ScriptedSampling, ShutdownDuringTheReconnectWaitIsPrompt) {
    stream.closeListener();
    LinkTiming timing = kFast;
    timing.reconnectInterval = kNotReached;  // only the shutdown can end the wait early
    auto waiting = std::make_unique<Check>(settings, memory, &observer, timing);
    waiting->start();
    std::this_thread::sleep_for(150ms);
    const auto begin = std::chrono::steady_clock::now();
    waiting.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, kHung)
        << "the shutdown did not end the reconnect wait";
}

// The simulated instrument: its stream switched on and off by command.
class SimSampling : public ::testing::Test {
protected:
    static constexpr double kClock = 1.6e12;
    SimSampling() : sim(config()) {}
    static tarvelo::sim::InstrumentConfig config() {
        tarvelo::sim::InstrumentConfig c;
        c.clockStartMs = kClock;
        return c;
    }
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        settings.setIpServer("127.0.0.1");
        settings.port = sim.commandPort();
    }
    void command(const char* text) {
        const int fd = tarvelo::device::connectTo("127.0.0.1", sim.commandPort(), 1000, 1000);
        ASSERT_GE(fd, 0);
        tarvelo::device::exchange(fd, text, kFast);
        tarvelo::device::closeSocket(fd);
    }
    void stopAndExpectNothingLost(Check& c) {
        command(tarvelo::device::kCmdStreamStop);
        ASSERT_TRUE(eventually([&] { return !sim.streaming(); }));
        ASSERT_TRUE(eventually([&] { return c.recordsConsumed() == sim.recordsSent(); }))
            << c.recordsConsumed() << " consumed, " << sim.recordsSent() << " sent";
    }
    // Index 0: every stored row is the record its time stamp names.
    void expectRecordsCopied(int32_t from, int32_t to) {
        for (int32_t i = from; i < to; ++i) {
            const SampleRow row = memory.row(i);
            const auto index = static_cast<uint64_t>(row.timeMs - kClock);
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(row.channel[c], Instrument::recordValue(index, c + 1)) << "row " << i;
            ASSERT_EQ(row.deviceFlag, index % 256);
        }
    }

    Instrument sim;
    tarvelo::app::Settings settings;
    MeasurementMemory memory;
    Recorder observer;
};

TEST_F(SimSampling, SplitRecordsAreStoredUnchangedAndNoneIsLost) {
    settings.sampleRate = 0;
    sim.setStreamFault(StreamFault::SplitRecords);
    Check check(settings, memory, &observer, kFast);
    check.start();
    command(tarvelo::device::kCmdStreamStart);
    ASSERT_TRUE(eventually([&] { return check.samplesStored() >= 30; }));
    stopAndExpectNothingLost(check);
    EXPECT_EQ(check.samplesStored(), sim.recordsSent());
    expectRecordsCopied(0, memory.WritePosition());
}

TEST_F(SimSampling, DefaultIndexLosesNoRecordAtSpeed) {
    sim.setRecordsPerSecond(0);
    Check check(settings, memory, &observer, kFast);
    check.start();
    ASSERT_TRUE(eventually([&] { return check.connected(); }));
    command(tarvelo::device::kCmdStreamStart);
    ASSERT_TRUE(eventually([&] { return check.recordsConsumed() > 200000; }));
    stopAndExpectNothingLost(check);
    EXPECT_EQ(check.samplesStored(), sim.recordsSent() / 100);
    // Each sample: the mean of 100 consecutive records ending at its time stamp.
    const SampleRow row = memory.row(3);
    const auto last = static_cast<uint64_t>(row.timeMs - kClock);
    EXPECT_EQ(last % 100, 99u);
    EXPECT_DOUBLE_EQ(row.channel[1], Instrument::recordValue(last, 2) - 0.25 * 49.5);
}

// Fifteen seconds at index 0 store more samples than the memory holds; the
// recording holds every one of them, numbered on across the wrap, and the
// samples of the same stream the memory still holds are its last lines.
TEST_F(SimSampling, RecordingOutlastsTheMemoryWithoutAGap) {
    settings.sampleRate = 0;
    tarvelo::test::TempDir dir;
    auto writer = std::make_shared<tarvelo::files::RecordWriter>();
    ASSERT_TRUE(
        writer->open(dir.file("run.asc"), "h\r\n", tarvelo::files::exportLineFormatter(',')));
    Check check(settings, memory, &observer, kFast);
    check.setRecorder(writer);
    check.start();
    ASSERT_TRUE(eventually([&] { return check.connected(); }));
    command(tarvelo::device::kCmdStreamStart);
    ASSERT_TRUE(eventually([&] { return check.samplesStored() >= 15000; }));
    stopAndExpectNothingLost(check);
    check.setRecorder(nullptr);
    ASSERT_TRUE(writer->close());

    const uint64_t stored = check.samplesStored();
    ASSERT_TRUE(memory.Wrapped());
    EXPECT_EQ(stored, writer->written());
    std::string expected = "h\r\n";
    for (uint64_t i = 0; i < stored; ++i) {
        SampleRow row =
            tarvelo::test::makeRow(Instrument::recordValue(i, 1), Instrument::recordValue(i, 2),
                                   Instrument::recordValue(i, 3), Instrument::recordValue(i, 4),
                                   kClock + static_cast<double>(i));
        tarvelo::files::appendExportLine(expected, i + 1, row, ',');
    }
    EXPECT_TRUE(tarvelo::test::readFile(dir.file("run.asc")) == expected)
        << "the file's lines are not the stream's samples 1.." << stored;
    const SampleRow newest =
        memory.row((memory.WritePosition() + kMemoryCapacity - 1) % kMemoryCapacity);
    EXPECT_EQ(kClock + static_cast<double>(stored - 1), newest.timeMs);
}

TEST_F(SimSampling, ClosedStreamStoresNothingUntilItComesBack) {
    settings.sampleRate = 0;
    Check check(settings, memory, &observer, kFast);
    check.start();
    command(tarvelo::device::kCmdStreamStart);
    ASSERT_TRUE(eventually([&] { return check.samplesStored() >= 20; }));
    sim.setStreamFault(StreamFault::CloseStream);
    ASSERT_TRUE(eventually([&] { return !check.connected(); }));
    const auto stored = check.samplesStored();
    // Two reconnects, each closed again at once.
    const int connects = check.streamConnects();
    ASSERT_TRUE(eventually([&] { return check.streamConnects() >= connects + 2; }));
    EXPECT_EQ(check.samplesStored(), stored);
    sim.setStreamFault(StreamFault::None);
    ASSERT_TRUE(eventually([&] { return check.samplesStored() >= stored + 20; }));
    EXPECT_GE(check.streamConnects(), 2);
    stopAndExpectNothingLost(check);
    expectRecordsCopied(0, memory.WritePosition());
}

TEST_F(SimSampling, LoadOfAFullMemoryStopsTheStreamAndDrainsIt) {
    settings.sampleRate = 0;
    Check check(settings, memory, &observer, kFast);
    check.start();
    command(tarvelo::device::kCmdStreamStart);
    ASSERT_TRUE(eventually([&] { return check.samplesStored() >= 20; }));

    std::vector<SampleRow> loaded(kMemoryCapacity);
    for (int i = 0; i < kMemoryCapacity; ++i)
        loaded[i].timeMs = -i;
    memory.load(loaded);
    ASSERT_TRUE(eventually([&] { return observer.memoryFulls() == 1; }));
    ASSERT_TRUE(eventually([&] { return !sim.streaming(); }));
    EXPECT_EQ(sim.commandLog(), (std::vector<std::string>{"#L01", "#L02"}));
    // Drained: everything sent was taken off the stream, nothing stored.
    ASSERT_TRUE(eventually([&] { return check.recordsConsumed() == sim.recordsSent(); }));
    ASSERT_TRUE(eventually([&] { return observer.drainEnded(); }));
    EXPECT_GE(check.recordsDiscarded(), 1u);
    EXPECT_EQ(check.recordsConsumed(), check.samplesStored() + check.recordsDiscarded());
    EXPECT_EQ(memory.state().writePosition, kMemoryCapacity);
    EXPECT_FALSE(memory.state().wrapped);
    EXPECT_EQ(memory.row(0).timeMs, 0);

    // A new start stores again: the ring wraps over the oldest loaded rows.
    command(tarvelo::device::kCmdStreamStart);
    ASSERT_TRUE(eventually([&] {
        const auto state = memory.state();
        return state.wrapped && state.writePosition >= 5;
    }));
    EXPECT_EQ(check.memoryFullRuns(), 1);
    stopAndExpectNothingLost(check);
    expectRecordsCopied(0, memory.WritePosition());
}

TEST_F(SimSampling, ShutdownDuringAStalledStreamIsPrompt) {
    sim.setStreamFault(StreamFault::Stall);
    // Only the shutdown can end the receive on the stalled stream early.
    auto check = std::make_unique<Check>(settings, memory, &observer, LinkTiming{10ms, kNotReached});
    check->start();
    command(tarvelo::device::kCmdStreamStart);
    ASSERT_TRUE(eventually([&] { return check->connected(); }));
    std::this_thread::sleep_for(100ms);
    const auto begin = std::chrono::steady_clock::now();
    check.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, kHung)
        << "the shutdown did not end the receive";
}

TEST(SamplingBatchAppend, BehavesAsSingleAppendsAndRefusesALoadedFullMemory) {
    MeasurementMemory memory;
    std::vector<SampleRow> loaded(kMemoryCapacity);
    memory.load(loaded);
    const SampleRow rows[3] = {record(1), record(2), record(3)};
    EXPECT_EQ(memory.AppendSamples(rows, 3, true), 0);
    EXPECT_EQ(memory.state().writePosition, kMemoryCapacity);
    EXPECT_EQ(memory.row(0).timeMs, 0);

    // Not refused: wraps first, exactly like AppendSample.
    EXPECT_EQ(memory.AppendSamples(rows, 1, false), 1);
    EXPECT_TRUE(memory.state().wrapped);

    // Across the end of the ring: counts 10240, then 1 and 2.
    loaded.pop_back();
    memory.load(loaded);
    EXPECT_EQ(memory.AppendSamples(rows, 3, true), kMemoryCapacity);
    EXPECT_EQ(memory.row(kMemoryCapacity - 1).timeMs, record(1).timeMs);
    EXPECT_EQ(memory.row(1).timeMs, record(3).timeMs);
    EXPECT_EQ(memory.state().writePosition, 2);
    EXPECT_TRUE(memory.state().wrapped);
}

// The instrument is switched off and on in the middle of a recording: the
// thread asks the new instrument for its stream again, the samples go on into
// the same file, and the gap is reported with the records missing as the
// device times on either side tell.
TEST_F(SimSampling, InstrumentRestartMidRunResumesTheStreamIntoTheSameRecording) {
    class GapObserver : public Recorder {
    public:
        void streamResumed(int64_t recordsLost) override {
            std::lock_guard lock(mutex);
            lost.push_back(recordsLost);
        }
        std::vector<int64_t> gaps() const {
            std::lock_guard lock(mutex);
            return lost;
        }

    private:
        mutable std::mutex mutex;
        std::vector<int64_t> lost;
    } gaps;

    settings.sampleRate = 0;
    tarvelo::test::TempDir dir;
    auto writer = std::make_shared<tarvelo::files::RecordWriter>();
    ASSERT_TRUE(
        writer->open(dir.file("run.asc"), "h\r\n", tarvelo::files::exportLineFormatter('.')));
    Check check(settings, memory, &gaps, kFast);
    check.setRecorder(writer);
    check.start();
    ASSERT_TRUE(eventually([&] { return check.connected(); }));
    command(tarvelo::device::kCmdStreamStart);
    check.setStreamWanted(true);
    ASSERT_TRUE(eventually([&] { return check.samplesStored() >= 50; }));

    // Off: the records sent are all taken, the stream closes.
    const uint16_t port = sim.commandPort();
    sim.stop();
    ASSERT_TRUE(eventually([&] { return !check.connected(); }));
    const uint64_t before = check.samplesStored();
    EXPECT_EQ(before, sim.recordsSent());
    EXPECT_EQ(0, check.streamRestarts());

    // On again, on the same port, its clock 100 s on from the first start.
    auto config = SimSampling::config();
    config.port = port;
    config.clockStartMs = kClock + 100000;
    Instrument again(config);
    ASSERT_TRUE(again.start());
    ASSERT_TRUE(eventually([&] { return check.samplesStored() >= before + 50; }, 10s));
    EXPECT_EQ(1, check.streamRestarts());
    EXPECT_EQ(std::vector<int64_t>{static_cast<int64_t>(100000 - before)}, gaps.gaps());

    // Stopped by the window's "#L02": every record of the new stream is kept.
    check.setStreamWanted(false);
    const int fd = tarvelo::device::connectTo("127.0.0.1", port, 1000, 1000);
    ASSERT_GE(fd, 0);
    tarvelo::device::exchange(fd, tarvelo::device::kCmdStreamStop, kFast);
    tarvelo::device::closeSocket(fd);
    ASSERT_TRUE(eventually([&] { return !again.streaming(); }));
    ASSERT_TRUE(
        eventually([&] { return check.samplesStored() == before + again.recordsSent(); }));
    check.setRecorder(nullptr);
    ASSERT_TRUE(writer->close());

    // One file: the first instrument's records, then the second one's,
    // numbered on without a break.
    std::string expected = "h\r\n";
    uint64_t number = 0;
    auto append = [&](uint64_t record, double clock) {
        const SampleRow row = tarvelo::test::makeRow(
            Instrument::recordValue(record, 1), Instrument::recordValue(record, 2),
            Instrument::recordValue(record, 3), Instrument::recordValue(record, 4),
            clock + static_cast<double>(record));
        tarvelo::files::appendExportLine(expected, ++number, row, '.');
    };
    for (uint64_t i = 0; i < before; ++i)
        append(i, kClock);
    for (uint64_t i = 0; i < again.recordsSent(); ++i)
        append(i, kClock + 100000);
    EXPECT_TRUE(tarvelo::test::readFile(dir.file("run.asc")) == expected);
}
