#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "device/mtrans.h"
#include "sim/instrument.h"
#include "support.h"

using namespace std::chrono_literals;
using namespace tarvelo;
using Clock = std::chrono::steady_clock;

namespace {

// A command-port peer driven by a script: it accepts one connection, cuts the
// incoming bytes into frames (text, 0x00, 0xA7) and lets the test answer each
// frame with exactly the segments it wants.
class ScriptedServer {
public:
    using Handler = std::function<void(ScriptedServer&, const std::string& command)>;

    explicit ScriptedServer(Handler handler) : handler_(std::move(handler)) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listenFd_, 4);
        socklen_t len = sizeof addr;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedServer() {
        stop_ = true;
        ::shutdown(listenFd_, SHUT_RDWR);
        if (int fd = peer_.load(); fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
        thread_.join();
        ::close(listenFd_);
    }

    int port() const { return port_; }

    // Sends one segment (Nagle off, so each call is a segment of its own).
    void send(const std::string& bytes, std::chrono::milliseconds delayBefore = 0ms) {
        std::this_thread::sleep_for(delayBefore);
        ::send(peer_.load(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void reply(const std::string& text) { send(text + std::string("\0\xA7", 2)); }
    void closePeer() { ::shutdown(peer_.load(), SHUT_RDWR); }

    std::vector<std::string> commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }

private:
    void run() {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0 || stop_)
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        peer_ = fd;
        std::string pending;
        char buffer[2048];
        while (!stop_) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 10000) <= 0)
                break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            pending.append(buffer, n);
            for (std::size_t end;
                 (end = pending.find(std::string("\0\xA7", 2))) != std::string::npos;) {
                const std::string command = pending.substr(0, end);
                pending.erase(0, end + 2);
                {
                    std::lock_guard lock(mutex_);
                    commands_.push_back(command);
                }
                handler_(*this, command);
            }
        }
        peer_ = -1;
        ::close(fd);
    }

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<int> peer_{-1};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::thread thread_;
};

const std::string kEnd("\0\xA7", 2);

struct LinkFixture : ::testing::Test {
    // Short waits; the receive time-out comes from socketTimeoutMs.
    static constexpr device::LinkTiming kFast{5ms, 200ms};

    app::Settings settings;
    std::atomic<int32_t> timeoutMs{200};
    test::RecordingObserver observer;

    LinkFixture() { settings.setIpServer("127.0.0.1"); }

    // Connects a link to `port`, runs one exchange, and reports the time.
    std::string exchangeOnce(int port, const std::string& command,
                             std::chrono::milliseconds* took = nullptr) {
        settings.port = port;
        device::DeviceLink link(settings, timeoutMs, &observer, kFast);
        EXPECT_EQ(link.ConnectServer(), 0);
        const auto start = Clock::now();
        std::string reply = link.SendReceive(command);
        if (took)
            *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        link.DisconnectServer();
        return reply;
    }
};

// A bound loopback port on which nothing listens: connects are refused.
struct DeadPort {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    DeadPort() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~DeadPort() { ::close(fd); }
};

}  // namespace

// --- The end rule of a reply --------------------------------------------------

TEST_F(LinkFixture, ReplyInOneChunkEndsAtOnce) {
    ScriptedServer server([](ScriptedServer& s, const std::string&) { s.reply("#X001|2|3|4|5|"); });
    EXPECT_EQ(exchangeOnce(server.port(), "#X00"), "#X001|2|3|4|5|");
    // "Received" (4): the end mark ended the exchange, not the time-out.
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 4, 2}));
    EXPECT_EQ(server.commands(), std::vector<std::string>{"#X00"});
}

TEST_F(LinkFixture, EndMarkInASegmentOfItsOwnWaitsForTheTimeout) {
    ScriptedServer server([](ScriptedServer& s, const std::string&) {
        s.send("#Z75mm");
        s.send(kEnd, 60ms);
    });
    std::chrono::milliseconds took{};
    EXPECT_EQ(exchangeOnce(server.port(), "#Z75", &took), "#Z75mm");
    EXPECT_GE(took, 250ms);  // 60 ms + the 200 ms time-out after the last byte
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 2}));  // no "received"
}

TEST_F(LinkFixture, FullChunkEndingInEndMarkDoesNotEndTheReply) {
    const std::string text(3998, 'a');
    ScriptedServer server([&](ScriptedServer& s, const std::string&) { s.reply(text); });
    std::chrono::milliseconds took{};
    EXPECT_EQ(exchangeOnce(server.port(), "#X00", &took), text);
    EXPECT_GE(took, 180ms);
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 2}));
}

TEST_F(LinkFixture, FullChunkThenAFramedRestEndsAtTheRest) {
    const std::string first(4000, 'b');
    ScriptedServer server([&](ScriptedServer& s, const std::string&) {
        s.send(first);
        s.send("tail" + kEnd, 60ms);
    });
    EXPECT_EQ(exchangeOnce(server.port(), "#X00"), first + "tail");
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 4, 2}));  // ended by the end mark
}

TEST_F(LinkFixture, BytesAfterAZeroInAChunkAreDropped) {
    ScriptedServer server([](ScriptedServer& s, const std::string&) {
        s.send(std::string("#Z001\0junk", 10));
        s.send(std::string("more\0x", 6) + kEnd, 60ms);
    });
    EXPECT_EQ(exchangeOnce(server.port(), "#Z001"), "#Z001more");
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 4, 2}));
}

TEST_F(LinkFixture, ClosedMidReplyReturnsWhatArrived) {
    ScriptedServer server([](ScriptedServer& s, const std::string&) {
        s.send("#X001|2");
        s.closePeer();
    });
    // A receive time-out no machine comes near: only the close can end the
    // exchange before it.
    timeoutMs = 60000;
    std::chrono::milliseconds took{};
    EXPECT_EQ(exchangeOnce(server.port(), "#X00", &took), "#X001|2");
    EXPECT_LT(took, 60s) << "the time-out, not the close, ended the exchange";
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 2}));
}

TEST_F(LinkFixture, NoReplyGivesTheEmptyTextAfterTheTimeout) {
    ScriptedServer server([](ScriptedServer&, const std::string&) {});
    std::chrono::milliseconds took{};
    EXPECT_EQ(exchangeOnce(server.port(), "#X00", &took), "");
    EXPECT_GE(took, 190ms);
    EXPECT_EQ(observer.sendErrors, 0);
}

TEST_F(LinkFixture, EndlessReplyIsCappedButStillReceived) {
    // 150 000 bytes without an end mark, then the peer closes.
    std::atomic<bool> allSent{false};
    ScriptedServer server([&](ScriptedServer& s, const std::string&) {
        for (int i = 0; i < 50; ++i)
            s.send(std::string(3000, 'z'));
        allSent = true;
        s.closePeer();
    });
    const std::string reply = exchangeOnce(server.port(), "#X00");
    EXPECT_EQ(reply.size(), device::kMaxReplyLength);
    EXPECT_EQ(reply, std::string(device::kMaxReplyLength, 'z'));
    EXPECT_TRUE(allSent);
}

// --- Sending -------------------------------------------------------------------

TEST_F(LinkFixture, CommandOf1023CharactersFitsAndLongerIsRefused) {
    ScriptedServer server([](ScriptedServer& s, const std::string&) { s.reply("#ok#"); });
    settings.port = server.port();
    device::DeviceLink link(settings, timeoutMs, &observer, kFast);
    ASSERT_EQ(link.ConnectServer(), 0);
    const std::string longest(1023, 'c');
    EXPECT_EQ(link.SendReceive(longest), "#ok#");
    EXPECT_EQ(observer.sendErrors, 0);
    EXPECT_EQ(link.SendReceive(std::string(1024, 'c')), "");
    EXPECT_EQ(observer.sendErrors, 1);
    link.DisconnectServer();
    EXPECT_EQ(server.commands(), std::vector<std::string>{longest});
}

TEST_F(LinkFixture, SendFailureShowsTheSendError) {
    device::DeviceLink unconnected(settings, timeoutMs, &observer, kFast);
    EXPECT_EQ(unconnected.SendReceive("#X00"), "");
    EXPECT_EQ(observer.sendErrors, 1);

    // A peer that resets the connection: the send fails (and no SIGPIPE).
    ScriptedServer server([](ScriptedServer&, const std::string&) {});
    settings.port = server.port();
    int fd = device::connectTo("127.0.0.1", server.port(), 200, 200);
    ASSERT_GE(fd, 0);
    ::shutdown(fd, SHUT_RDWR);
    bool failed = false;
    EXPECT_EQ(device::exchange(fd, "#X00", kFast, &failed), "");
    EXPECT_TRUE(failed);
    device::closeSocket(fd);

    bool sendFailed = false;
    EXPECT_EQ(device::exchange(-1, "#X00", kFast, &sendFailed), "");
    EXPECT_TRUE(sendFailed);

    // Without a socket the errno left by earlier calls is no verdict on the
    // send: an EINTR there must not make the exchange retry for ever.
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> finished = done->get_future();
    std::thread([done] {
        errno = EINTR;
        bool failedAgain = false;
        device::exchange(-1, "#X00", kFast, &failedAgain);
        done->set_value(failedAgain);
    }).detach();
    ASSERT_EQ(finished.wait_for(5s), std::future_status::ready) << "the exchange never ended";
    EXPECT_TRUE(finished.get());
}

TEST_F(LinkFixture, WorkerExchangeReportsTheEndMark) {
    ScriptedServer server([](ScriptedServer& s, const std::string&) { s.reply("#Z001"); });
    const int fd = device::connectTo("127.0.0.1", server.port(), 200, 0);
    ASSERT_GE(fd, 0);
    bool failed = true, end = false;
    EXPECT_EQ(device::exchange(fd, "#Z001", kFast, &failed, &end), "#Z001");
    EXPECT_FALSE(failed);
    EXPECT_TRUE(end);
    device::closeSocket(fd);
}

// --- Connecting ----------------------------------------------------------------

TEST_F(LinkFixture, RefusedConnectionFails) {
    DeadPort dead;
    settings.port = dead.port;
    device::DeviceLink link(settings, timeoutMs, &observer, kFast);
    EXPECT_EQ(link.ConnectServer(), -1);
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 1}));
    EXPECT_EQ(device::connectTo("127.0.0.1", dead.port, 200, 200), -1);
}

TEST_F(LinkFixture, AddressesAreNumbersAndDotsOnly) {
    ScriptedServer server([](ScriptedServer&, const std::string&) {});
    settings.port = server.port();
    // Read as inet_aton reads them: blanks after the address, short forms
    // and hex parts are the loopback address too.
    for (const char* address : {"127.0.0.1 ", "127.1", "0x7f.0.0.1\t"}) {
        const int fd = device::connectTo(address, server.port(), 200, 200);
        EXPECT_GE(fd, 0) << address;
        device::closeSocket(fd);
    }
    for (const char* address : {"localhost", " 127.0.0.1", "127.0.0.1x", "", "127.0.0.256"}) {
        observer.statuses.clear();
        settings.setIpServer(address);
        device::DeviceLink link(settings, timeoutMs, &observer, kFast);
        EXPECT_EQ(link.ConnectServer(), -1) << address;
        EXPECT_EQ(observer.statuses, (std::vector<int>{0, 1})) << address;
        EXPECT_EQ(device::connectTo(address, server.port(), 200, 200), -1) << address;
    }
    settings.port = 70000;  // a port out of range cannot be used
    settings.setIpServer("127.0.0.1");
    device::DeviceLink link(settings, timeoutMs, &observer, kFast);
    EXPECT_EQ(link.ConnectServer(), -1);
}

TEST_F(LinkFixture, StatusSequenceOverSeveralExchanges) {
    ScriptedServer server([](ScriptedServer& s, const std::string& c) { s.reply(c); });
    settings.port = server.port();
    device::DeviceLink link(settings, timeoutMs, &observer, kFast);
    ASSERT_EQ(link.ConnectServer(), 0);
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(observer.statuses, std::vector<int>{0});
    EXPECT_EQ(link.SendReceive("#Z001"), "#Z001");
    EXPECT_EQ(link.SendReceive("#Z002"), "#Z002");
    link.DisconnectServer();
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 4, 4, 2}));
    // Disconnecting again is harmless and shows the same text.
    link.DisconnectServer();
    EXPECT_EQ(observer.statuses.back(), 2);
}

// --- Against the simulated instrument ---------------------------------------------

struct SimLink : LinkFixture {
    sim::Instrument instrument;
    void SetUp() override {
        ASSERT_TRUE(instrument.start());
        settings.port = instrument.commandPort();
        // A reply that ends on its end mark must not meet the time-out, however
        // slowly a loaded machine runs the simulator.
        timeoutMs = 30000;
    }
};

TEST_F(SimLink, CurrentSampleExchange) {
    device::DeviceLink link(settings, timeoutMs, &observer, kFast);
    ASSERT_EQ(link.ConnectServer(), 0);
    const std::string reply = link.SendReceive("#X00");
    link.DisconnectServer();
    EXPECT_EQ(reply.substr(0, 4), "#X00");
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 4, 2}));
    EXPECT_EQ(instrument.commandLog(), std::vector<std::string>{"#X00"});
}

TEST_F(SimLink, EndMarkAloneReturnsTheSameText) {
    // The end mark alone is not taken for the end: the time-out ends it.
    timeoutMs = 200;
    device::DeviceLink link(settings, timeoutMs, &observer, kFast);
    ASSERT_EQ(link.ConnectServer(), 0);
    const std::string normal = link.SendReceive("#Z001");
    instrument.setCommandFault(sim::CommandFault::EndMarkAlone);
    const auto start = Clock::now();
    const std::string alone = link.SendReceive("#Z001");
    const auto took = Clock::now() - start;
    link.DisconnectServer();
    EXPECT_EQ(normal, "#Z001");
    EXPECT_EQ(alone, "#Z001");
    EXPECT_GE(took, 190ms);
    EXPECT_EQ(observer.statuses, (std::vector<int>{0, 4, 2}));
}

// Prints the real timings (default 100 ms wait, 1000 ms time-out). Run with
//   test_link --gtest_also_run_disabled_tests --gtest_filter='*MeasureDefaultTimings'
TEST(LinkTimingMeasure, DISABLED_MeasureDefaultTimings) {
    sim::Instrument instrument;
    ASSERT_TRUE(instrument.start());
    app::Settings settings;
    settings.setIpServer("127.0.0.1");
    settings.port = instrument.commandPort();
    std::atomic<int32_t> timeoutMs{1000};
    test::RecordingObserver observer;
    device::DeviceLink link(settings, timeoutMs, &observer);
    ASSERT_EQ(link.ConnectServer(), 0);
    auto measure = [&](const char* what, const char* command) {
        const auto start = Clock::now();
        const std::string reply = link.SendReceive(command);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("%-40s %8.1f ms  reply \"%s\"\n", what, ms, reply.c_str());
    };
    measure("one exchange (#X00)", "#X00");
    instrument.setCommandFault(sim::CommandFault::EndMarkAlone);
    measure("end mark alone, 200 ms after the text", "#Z001");
    // The end mark just after the 100 ms wait: the case's shortest form.
    instrument.setChunking({}, 120ms);
    measure("end mark alone, 120 ms after the text", "#Z001");
    link.DisconnectServer();
}
