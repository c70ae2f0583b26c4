#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "acquisition/measurement_memory.h"
#include "app/settings.h"
#include "device/mlivetest.h"
#include "sim/instrument.h"
#include "support.h"

using namespace std::chrono_literals;
using namespace tarvelo;
using Clock = std::chrono::steady_clock;

namespace {

struct LivetestProbe : ::testing::Test {
    static constexpr device::LinkTiming kFast{5ms, 300ms};
    sim::Instrument instrument;
    app::Settings settings;
    acquisition::MeasurementMemory memory;
    std::atomic<bool> ready{true};  // the probe must reset it

    void SetUp() override {
        ASSERT_TRUE(instrument.start());
        settings.setIpServer("127.0.0.1");
        settings.port = instrument.commandPort();
    }

    // Runs the probe to its end (the destructor joins).
    bool probe(device::LinkTiming timing = kFast) {
        {
            device::Livetest livetest(settings, memory, ready, timing);
            livetest.start();
        }
        return ready.load();
    }
};

}  // namespace

TEST_F(LivetestProbe, AnsweringInstrumentMakesTheDeviceReady) {
    acquisition::SampleRow row{};
    memory.AppendSample(row);
    memory.AppendSample(row);
    EXPECT_TRUE(probe());
    EXPECT_EQ(memory.RowCount(), 0);  // the probe starts with an empty memory
    EXPECT_EQ(instrument.commandLog(), (std::vector<std::string>{"#Z001", "#Z75"}));
}

TEST_F(LivetestProbe, NothingListening) {
    instrument.setCommandFault(sim::CommandFault::RefuseConnections);
    EXPECT_FALSE(probe());

    // An address that is not dotted-decimal cannot be reached either.
    instrument.setCommandFault(sim::CommandFault::None);
    settings.setIpServer("localhost");
    EXPECT_FALSE(probe());
}

TEST_F(LivetestProbe, AnsweringWrongly) {
    instrument.setCommandFault(sim::CommandFault::WrongEcho);
    EXPECT_FALSE(probe());

    // A wrong select echo ends the probe before the unit is asked for.
    instrument.setCommandFault(sim::CommandFault::None);
    instrument.clearCommandLog();
    instrument.overrideReply("#Z001", "#Z002");
    EXPECT_FALSE(probe());
    EXPECT_EQ(instrument.commandLog(), std::vector<std::string>{"#Z001"});

    // A wrong unit echo.
    instrument.clearReplyOverrides();
    instrument.overrideReply("#Z75", "#Z7");
    EXPECT_FALSE(probe());

    // An empty unit (channel 1 not connected) still counts as an answer.
    instrument.clearReplyOverrides();
    instrument.setUnit(1, "");
    EXPECT_TRUE(probe());
}

TEST_F(LivetestProbe, SilentInstrumentTimesOutAndShutdownWakesIt) {
    instrument.setCommandFault(sim::CommandFault::NoReply);
    auto start = Clock::now();
    EXPECT_FALSE(probe());
    EXPECT_GE(Clock::now() - start, 290ms);

    // With a time-out that is never reached, only shutdown() can end the
    // blocked receive.
    device::Livetest livetest(settings, memory, ready, {5ms, test::kNotReached});
    livetest.start();
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(livetest.finished());
    livetest.shutdown();
    EXPECT_TRUE(test::eventually([&] { return livetest.finished(); }))
        << "the shutdown did not end the receive";
    EXPECT_FALSE(ready.load());
}

TEST_F(LivetestProbe, ShutdownBeforeStartEndsWithoutAnswer) {
    device::Livetest livetest(settings, memory, ready, kFast);
    livetest.shutdown();
    livetest.start();
    ASSERT_TRUE(test::eventually([&] { return livetest.finished(); }))
        << "the probe did not end";
    EXPECT_FALSE(ready.load());
}
