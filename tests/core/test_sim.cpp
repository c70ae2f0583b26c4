// The simulated instrument over raw loopback sockets: framing, replies, the record stream
// and the faults that the device-link tests rely on.

#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/instrument.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using tarvelo::sim::CommandFault;
using tarvelo::sim::Instrument;
using tarvelo::sim::InstrumentConfig;
using tarvelo::sim::StreamFault;
using Clock = std::chrono::steady_clock;

const std::string kEnd("\0\xA7", 2);
constexpr double kClockStart = 1700000000000.0;

class Socket {
public:
    explicit Socket(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Socket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool connected() const { return fd_ >= 0; }
    void shutdown() { ::shutdown(fd_, SHUT_RDWR); }

    void send(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }
    void sendCommand(const std::string& cmd) { send(cmd + kEnd); }

    // Whatever arrives within `wait`; empty on time-out, closed set when the peer closed.
    std::string readSome(std::chrono::milliseconds wait, bool* closed = nullptr) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(wait.count())) <= 0)
            return {};
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0 && closed)
            *closed = true;
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }

    // Reads up to and including the end mark; returns the reply text without it. Bytes
    // after the end mark are kept for the next call.
    std::string readReply() {
        auto deadline = Clock::now() + 3s;
        while (pending_.find(kEnd) == std::string::npos && Clock::now() < deadline) {
            bool closed = false;
            pending_ += readSome(100ms, &closed);
            if (closed)
                break;
        }
        std::size_t end = pending_.find(kEnd);
        EXPECT_NE(end, std::string::npos) << "no end mark after " << pending_;
        std::string text = pending_.substr(0, end);
        pending_.erase(0, end == std::string::npos ? end : end + kEnd.size());
        return text;
    }

    std::string exchange(const std::string& cmd) {
        sendCommand(cmd);
        return readReply();
    }

private:
    int fd_ = -1;
    std::string pending_;
};

std::vector<std::string> splitFields(const std::string& reply) {
    std::vector<std::string> out;
    std::size_t pos = 4;
    for (std::size_t bar; (bar = reply.find('|', pos)) != std::string::npos; pos = bar + 1)
        out.push_back(reply.substr(pos, bar - pos));
    EXPECT_EQ(pos, reply.size()) << "text after the last field: " << reply;
    return out;
}

class SimTest : public ::testing::Test {
protected:
    void startWith(InstrumentConfig config) {
        config.clockStartMs = kClockStart;
        sim = std::make_unique<Instrument>(config);
        ASSERT_TRUE(sim->start());
        ASSERT_NE(sim->commandPort(), 0);
        ASSERT_EQ(sim->streamPort(), sim->commandPort() + 2);
    }
    void SetUp() override { startWith({}); }

    std::unique_ptr<Instrument> sim;
};

TEST_F(SimTest, CurrentValuesReplyHasFiveFieldsAndChangesOverTime) {
    Socket s(sim->commandPort());
    ASSERT_TRUE(s.connected());
    std::string first = s.exchange("#X00");
    ASSERT_EQ(first.substr(0, 4), "#X00");
    auto f = splitFields(first);
    ASSERT_EQ(f.size(), 5u) << first;
    EXPECT_EQ(f[2], "N.C.  ");  // channel 3 has no unit by default
    for (int c : {0, 1, 3}) {
        EXPECT_THAT(f[c], ::testing::MatchesRegex(" ?-?[0-9]+\\.[0-9]{5}")) << f[c];
    }
    EXPECT_THAT(f[4], ::testing::MatchesRegex("[0-9]{13}"));
    double t = std::stod(f[4]);
    EXPECT_GE(t, kClockStart);
    EXPECT_LT(t, kClockStart + 60000);

    std::this_thread::sleep_for(300ms);
    auto g = splitFields(s.exchange("#X00"));
    ASSERT_EQ(g.size(), 5u);
    EXPECT_NE(g[0], f[0]);
    EXPECT_GE(std::stod(g[4]) - t, 250);
}

TEST_F(SimTest, ChannelSelectionAndUnitsOnOneConnection) {
    Socket s(sim->commandPort());
    // Several commands in one write, as the column captions send them.
    s.send("#Z003" + kEnd + "#Z75" + kEnd + "#Z004" + kEnd + "#Z75" + kEnd);
    EXPECT_EQ(s.readReply(), "#Z003");
    EXPECT_EQ(s.readReply(), "#Z75");  // not connected
    EXPECT_EQ(s.readReply(), "#Z004");
    EXPECT_EQ(s.readReply(),
              "#Z75\xB0"
              "C");
    sim->setUnit(3, "\xB5m");
    EXPECT_EQ(s.exchange("#Z003"), "#Z003");
    EXPECT_EQ(s.exchange("#Z75"), "#Z75\xB5m");
    EXPECT_EQ(s.exchange("#Z005"), "#ERR");
    EXPECT_EQ(s.exchange("#Q"), "#ERR");
    EXPECT_EQ(sim->commandLog(), (std::vector<std::string>{"#Z003", "#Z75", "#Z004", "#Z75",
                                                           "#Z003", "#Z75", "#Z005", "#Q"}));
}

TEST_F(SimTest, BatchMemoryRepliesAreConsistent) {
    InstrumentConfig config;
    config.batchCount = 8;
    sim.reset();
    startWith(config);
    Socket s(sim->commandPort());
    EXPECT_EQ(s.exchange("#M01"), "#M017");

    int emptyNames = 0;
    for (int n = 0; n < 8; ++n) {
        std::string i = std::to_string(n);
        for (std::string q : {"#M11", "#M21", "#M31"}) {
            std::string r = s.exchange(q + i);
            ASSERT_EQ(r.substr(0, 4), q);
            for (const std::string& v : splitFields(r))
                EXPECT_NO_THROW(std::stod(v)) << r;
        }
        double value = std::stod(splitFields(s.exchange("#M11" + i))[0]);
        EXPECT_GT(std::stod(splitFields(s.exchange("#M21" + i))[0]), value);
        EXPECT_LT(std::stod(splitFields(s.exchange("#M31" + i))[0]), value);
        auto t = splitFields(s.exchange("#M40" + i));
        ASSERT_EQ(t.size(), 3u);
        EXPECT_LT(std::stod(t[0]), kClockStart);
        if (t[1].empty())
            ++emptyNames;
    }
    EXPECT_GT(emptyNames, 0);
    EXPECT_LT(emptyNames, 8);
    EXPECT_EQ(s.exchange("#M545"),
              "#M54\xB0"
              "C");
    EXPECT_EQ(s.exchange("#M627"), "#M62SN-1002");
    EXPECT_EQ(s.exchange("#M55"), "#ERR");  // sensor without a data-set number
    EXPECT_EQ(s.exchange("#M11x"), "#ERR");
}

// Reads records until `count` have arrived or nothing came for `quiet`.
std::string readRecords(Socket& s, std::size_t count, std::chrono::milliseconds quiet) {
    std::string got;
    while (got.size() < count * 48) {
        std::string part = s.readSome(quiet);
        if (part.empty())
            break;
        got += part;
    }
    return got;
}

// After "#L02": reads while the sender finishes, then whatever is still under way.
std::string drainAfterStop(Socket& s, const Instrument& sim) {
    std::string got;
    auto deadline = Clock::now() + 5s;
    while (sim.streaming() && Clock::now() < deadline)
        got += s.readSome(10ms);
    return got + readRecords(s, SIZE_MAX / 64, 300ms);
}

void checkRecords(const std::string& bytes) {
    ASSERT_EQ(bytes.size() % 48, 0u);
    for (std::size_t i = 0; i < bytes.size() / 48; ++i) {
        const char* r = bytes.data() + 48 * i;
        double v[5];
        std::memcpy(v, r, sizeof v);
        for (int c = 1; c <= 4; ++c)
            ASSERT_EQ(v[c - 1], Instrument::recordValue(i, c)) << i;
        ASSERT_EQ(v[4], kClockStart + double(i));
        ASSERT_EQ(static_cast<unsigned char>(r[40]), i % 256);
        ASSERT_EQ(std::string(r + 41, 7), std::string(7, '\0'));
    }
}

TEST_F(SimTest, StreamSendsRecordsBetweenStartAndStop) {
    for (double rate : {1000.0, 0.0}) {
        SCOPED_TRACE(rate);
        sim.reset();
        InstrumentConfig config;
        config.recordsPerSecond = rate;
        startWith(config);
        Socket stream(sim->streamPort());
        ASSERT_TRUE(stream.connected());
        EXPECT_EQ(readRecords(stream, 1, 150ms), "");  // nothing before "#L01"

        auto started = Clock::now();
        EXPECT_EQ(Socket(sim->commandPort()).exchange("#L01"), "#L01");
        EXPECT_TRUE(sim->streaming());
        std::string got = readRecords(stream, 300, 1000ms);
        if (rate > 0) {
            EXPECT_GE(Clock::now() - started, 250ms);  // about one per millisecond
        }
        EXPECT_EQ(Socket(sim->commandPort()).exchange("#L02"), "#L02");
        got += drainAfterStop(stream, *sim);
        ASSERT_FALSE(sim->streaming());
        EXPECT_EQ(got.size() / 48, sim->recordsSent());
        checkRecords(got);
        EXPECT_EQ(sim->streamConnections(), 1);
    }
}

// The default stream of the executable: the same signals as the single shot, on its clock.
TEST_F(SimTest, SignalStreamContinuesTheSingleShotOnTheDeviceClock) {
    InstrumentConfig config;
    config.stream = tarvelo::sim::StreamSignal::Signal;
    sim.reset();
    startWith(config);
    Socket stream(sim->streamPort());
    ASSERT_TRUE(stream.connected());
    Socket(sim->commandPort()).exchange("#L01");
    std::string got = readRecords(stream, 100, 1000ms);
    const auto shot = splitFields(Socket(sim->commandPort()).exchange("#X00"));
    ASSERT_EQ(shot.size(), 5u);
    got += readRecords(stream, 300, 1000ms);
    Socket(sim->commandPort()).exchange("#L02");
    got += drainAfterStop(stream, *sim);
    ASSERT_EQ(got.size() % 48, 0u);
    ASSERT_GE(got.size() / 48, 300u);

    const double shotTime = std::stod(shot[4]);
    bool sameMillisecond = false;
    for (std::size_t i = 0; i < got.size() / 48; ++i) {
        double v[5];
        std::memcpy(v, got.data() + 48 * i, sizeof v);
        if (i > 0) {
            double previous;
            std::memcpy(&previous, got.data() + 48 * (i - 1) + 32, 8);
            ASSERT_EQ(v[4], previous + 1) << "record " << i << " is not one ms after the last";
        }
        ASSERT_EQ(v[2], 0.0) << "channel 3 has no unit";
        ASSERT_LT(std::abs(v[4] - shotTime), 2000) << "record " << i << " is off the clock";
        if (v[4] == shotTime) {
            sameMillisecond = true;
            for (int c : {0, 1, 3})
                EXPECT_NEAR(v[c], std::stod(shot[c]), 0.6e-5) << "channel " << c + 1;
        }
    }
    EXPECT_TRUE(sameMillisecond) << "no record stamped with the single shot's time " << shot[4];
}

TEST_F(SimTest, SplitRecordsArriveInTwoSegments) {
    Socket stream(sim->streamPort());
    sim->setStreamFault(StreamFault::SplitRecords);
    Socket(sim->commandPort()).exchange("#L01");
    // Each record goes out as 20 bytes and then 28. A receive may join any
    // number of such pieces, but it always ends after one of them: at a
    // record's end or 20 bytes into one, and now and then at the latter.
    std::string all;
    bool sawSplit = false;
    for (int reads = 0; reads < 200 && !(sawSplit && all.size() >= 20 * 48); ++reads) {
        const std::string piece = stream.readSome(1000ms);
        ASSERT_FALSE(piece.empty());
        all += piece;
        EXPECT_TRUE(all.size() % 48 == 0 || all.size() % 48 == 20) << all.size();
        sawSplit = sawSplit || all.size() % 48 == 20;
    }
    EXPECT_TRUE(sawSplit);
    Socket(sim->commandPort()).exchange("#L02");
    all += drainAfterStop(stream, *sim);
    EXPECT_EQ(all.size() / 48, sim->recordsSent());
    checkRecords(all);
}

TEST_F(SimTest, RefusedConnectionsAndReopenedPort) {
    sim->setCommandFault(CommandFault::RefuseConnections);
    EXPECT_FALSE(Socket(sim->commandPort()).connected());
    sim->setCommandFault(CommandFault::None);
    Socket s(sim->commandPort());
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(s.exchange("#Z001"), "#Z001");
}

TEST_F(SimTest, EndMarkAloneComesAfterTheReadersWait) {
    sim->setCommandFault(CommandFault::EndMarkAlone);
    Socket s(sim->commandPort());
    s.sendCommand("#Z001");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(s.readSome(1000ms), "#Z001");
    EXPECT_EQ(s.readSome(1000ms), kEnd);
}

TEST_F(SimTest, SplitAndBrokenReplies) {
    sim->setCommandFault(CommandFault::SplitReply);
    sim->setChunking({2, 3}, 50ms);
    Socket s(sim->commandPort());
    s.sendCommand("#Z002");
    std::vector<std::string> parts;
    for (std::string p; !(p = s.readSome(1000ms)).empty();) {
        parts.push_back(p);
        if (p.back() == '\xA7')
            break;
    }
    EXPECT_EQ(parts, (std::vector<std::string>{"#Z", "002", kEnd}));

    sim->setCommandFault(CommandFault::WrongEcho);
    EXPECT_EQ(s.exchange("#M01"), "#ERR24");

    sim->setCommandFault(CommandFault::OversizedReply);
    sim->setOversizeBytes(100000);
    EXPECT_EQ(s.exchange("#X00"), "#X00" + std::string(100000, 'x'));

    sim->setCommandFault(CommandFault::CloseMidReply);
    s.sendCommand("#Z001");
    bool closed = false;
    std::string got;
    for (int i = 0; i < 20 && !closed; ++i)
        got += s.readSome(200ms, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, "#Z");
}

TEST_F(SimTest, StopEndsPromptlyWithConnectionsHeldOpen) {
    sim->setCommandFault(CommandFault::NoReply);
    Socket a(sim->commandPort());
    a.sendCommand("#X00");
    Socket b(sim->commandPort());
    b.sendCommand("#Z001");
    Socket stream(sim->streamPort());
    sim->setRecordsPerSecond(0);
    Socket(sim->commandPort()).sendCommand("#L01");  // not answered, still obeyed
    for (int i = 0; i < 200 && sim->recordsSent() == 0; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_GT(sim->recordsSent(), 0u);  // fills the unread stream socket, then blocks
    std::this_thread::sleep_for(100ms);

    // The connections stay open until after the stop: a stop that waited for
    // them would not end. Their close lets such a stop end after all.
    std::promise<void> stopped;
    std::thread stopper([&] {
        sim->stop();
        stopped.set_value();
    });
    const bool prompt =
        stopped.get_future().wait_for(tarvelo::test::kHung) == std::future_status::ready;
    if (!prompt) {
        a.shutdown();
        b.shutdown();
        stream.shutdown();
    }
    stopper.join();
    ASSERT_TRUE(prompt) << "the stop waited for the connections held open";
    EXPECT_EQ(sim->commandsReceived(), 3u);
    bool closed = false;
    a.readSome(1000ms, &closed);
    EXPECT_TRUE(closed);
}

}  // namespace
