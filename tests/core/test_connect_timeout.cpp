// Connects to an instrument that never answers the handshake: every connect
// of the program is bounded by its connect time-out, ends at once when its
// thread is asked to stop, and leaves a connected socket blocking.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "acquisition/measurement_memory.h"
#include "acquisition/mthread.h"
#include "app/settings.h"
#include "device/mlivetest.h"
#include "device/mtrans.h"
#include "device/socket_steps.h"
#include "support.h"

using namespace std::chrono_literals;
using namespace tarvelo;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// A connect still running after kHung (far below the system's connect
// time-out of about two minutes) has hung, or was ended by the system
// instead of by us.
using test::eventually;
using test::kHung;
using test::kNotReached;

sockaddr_in loopback(uint16_t port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

uint16_t boundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A loopback peer that never completes a handshake, like an instrument that
// has dropped off the network: a listener with backlog 0 that never accepts.
// Its accept queue is filled first; after that the kernel drops every further
// SYN, and a connect waits for an answer that never comes.
class SilentPeer {
public:
    SilentPeer() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback();
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 0);
        port_ = boundPort(listen_);
        a = loopback(port_);
        for (int i = 0; i < 8 && !silent_; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 300) == 1) {
                fillers_.push_back(fd);  // took a place in the queue
            } else {
                silent_ = true;  // the queue is full: this SYN went unanswered
                ::close(fd);
            }
        }
    }
    ~SilentPeer() {
        for (int fd : fillers_)
            ::close(fd);
        ::close(listen_);
    }
    int port() const { return port_; }
    // False when this kernel answers connects to a full queue after all; the
    // tests cannot make a silent peer then.
    bool silent() const { return silent_; }

private:
    int listen_ = -1;
    int port_ = 0;
    bool silent_ = false;
    std::vector<int> fillers_;
};

// A listener that completes handshakes (the kernel does) but never accepts.
struct AnsweringPeer {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    AnsweringPeer() {
        sockaddr_in a = loopback();
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 8);
        port = boundPort(fd);
    }
    ~AnsweringPeer() { ::close(fd); }
};

// A bound loopback port on which nothing listens: connects are refused.
struct RefusingPort {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    RefusingPort() {
        sockaddr_in a = loopback();
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        port = boundPort(fd);
    }
    ~RefusingPort() { ::close(fd); }
};

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

template <typename F>
milliseconds timed(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

std::atomic<int> signalsSeen{0};
void countSignal(int) {
    signalsSeen.fetch_add(1);
}

struct ConnectFixture : ::testing::Test {
    SilentPeer silent;
    void SetUp() override {
        ASSERT_TRUE(silent.silent()) << "a listener with a full queue answered a connect";
    }
};

}  // namespace

// --- The shared connect ----------------------------------------------------------

using SharedConnect = ConnectFixture;

TEST_F(SharedConnect, SilentPeerIsGivenUpAfterTheTimeout) {
    const int fd = device::detail::openStreamSocket();
    ASSERT_GE(fd, 0);
    bool connected = true;
    const auto took = timed(
        [&] { connected = device::detail::connectSocket(fd, "127.0.0.1", silent.port(), 300ms); });
    ::close(fd);
    EXPECT_FALSE(connected);
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, kHung) << "our time-out did not end the connect";
}

TEST_F(SharedConnect, StopEndsAConnectInProgressAtOnce) {
    std::atomic<bool> stop{false};
    const int fd = device::detail::openStreamSocket();
    ASSERT_GE(fd, 0);
    std::atomic<bool> done{false};
    bool connected = true;
    std::thread connecting([&] {
        connected =
            device::detail::connectSocket(fd, "127.0.0.1", silent.port(), kNotReached, &stop);
        done = true;
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(done.load());
    stop = true;
    // Only the stop can end the connect before its time-out.
    EXPECT_TRUE(eventually([&] { return done.load(); }, kHung)) << "the stop was not seen";
    connecting.join();
    ::close(fd);
    EXPECT_FALSE(connected);

    // A stop that came before the connect: it fails even where it could succeed.
    AnsweringPeer answering;
    const int other = device::detail::openStreamSocket();
    EXPECT_FALSE(device::detail::connectSocket(other, "127.0.0.1", answering.port, 1s, &stop));
    ::close(other);
}

TEST_F(SharedConnect, InterruptingSignalsNeitherEndNorStretchTheWait) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = countSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll returns EINTR
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    const int fd = device::detail::openStreamSocket();
    std::atomic<bool> done{false};
    bool connected = true;
    milliseconds took{};
    std::thread connecting([&] {
        took = timed([&] {
            connected = device::detail::connectSocket(fd, "127.0.0.1", silent.port(), 400ms);
        });
        done = true;
    });
    const int before = signalsSeen.load();
    // A wait that started over at every signal would never end while they come.
    const auto hung = Clock::now() + kHung;
    while (!done.load() && Clock::now() < hung) {
        ::pthread_kill(connecting.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(done.load()) << "the signals stretched the wait";
    connecting.join();
    ::close(fd);
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GT(signalsSeen.load() - before, 5);
    EXPECT_FALSE(connected);
    EXPECT_GE(took, 390ms);
}

TEST(SharedConnectOutcome, RefusedConnectFailsWithoutWaitingForTheTimeout) {
    RefusingPort refusing;
    const int fd = device::detail::openStreamSocket();
    const bool connected =
        device::detail::connectSocket(fd, "127.0.0.1", refusing.port, kNotReached);
    const int error = errno;
    ::close(fd);
    EXPECT_FALSE(connected);
    // The refusal ended it, not the time-out (ETIMEDOUT).
    EXPECT_EQ(error, ECONNREFUSED);
}

TEST(SharedConnectOutcome, ConnectedSocketIsBlockingWithItsReceiveTimeout) {
    AnsweringPeer answering;
    const int fd = device::detail::openStreamSocket();
    ASSERT_TRUE(device::detail::setReceiveTimeout(fd, 200));
    ASSERT_TRUE(device::detail::connectSocket(fd, "127.0.0.1", answering.port, 1s));
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    // Nothing is sent: the receive waits for SO_RCVTIMEO, it does not return at once.
    char byte;
    ssize_t n = 0;
    int error = 0;
    const auto took = timed([&] {
        n = ::recv(fd, &byte, 1, 0);
        error = errno;
    });
    ::close(fd);
    EXPECT_EQ(n, -1);
    EXPECT_TRUE(error == EAGAIN || error == EWOULDBLOCK) << error;  // the receive time-out
    EXPECT_GE(took, 180ms);
}

// --- ConnectServer and the workers' connectTo ---------------------------------

struct LinkToSilentPeer : ConnectFixture {
    app::Settings settings;
    // Far longer than the connect time-outs under test: on this system a
    // blocking connect gives up at SO_SNDTIMEO, which must not be what ends it.
    std::atomic<int32_t> socketTimeoutMs{static_cast<int32_t>(kNotReached.count())};
    test::RecordingObserver observer;
    device::LinkTiming timing;
    LinkToSilentPeer() {
        settings.setIpServer("127.0.0.1");
        timing.replyWait = 5ms;
        timing.connectTimeout = 300ms;
    }
};

TEST_F(LinkToSilentPeer, ConnectServerFailsLikeAnyFailedConnect) {
    settings.port = silent.port();
    device::DeviceLink link(settings, socketTimeoutMs, &observer, timing);
    const std::size_t descriptors = openDescriptors();
    int result = 0;
    const auto took = timed([&] { result = link.ConnectServer(); });
    EXPECT_EQ(result, -1);
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, kHung) << "the connect time-out did not end the connect";
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(observer.statuses,
              (std::vector<int>{device::kStatusConnecting, device::kStatusFailed}));
    EXPECT_EQ(openDescriptors(), descriptors);  // the socket was closed

    // The link is not left in a state that spoils the next connect.
    AnsweringPeer answering;
    settings.port = answering.port;
    EXPECT_EQ(link.ConnectServer(), 0);
    link.DisconnectServer();
}

TEST_F(LinkToSilentPeer, DefaultConnectTimeoutBoundsConnectServer) {
    settings.port = silent.port();
    device::DeviceLink link(settings, socketTimeoutMs, &observer);
    int result = 0;
    const auto took = timed([&] { result = link.ConnectServer(); });
    EXPECT_EQ(result, -1);
    EXPECT_GE(took, device::kDefaultConnectTimeout - 10ms);
    EXPECT_LT(took, kHung) << "the connect time-out did not end the connect";
    EXPECT_EQ(observer.statuses.back(), device::kStatusFailed);
}

TEST_F(LinkToSilentPeer, WorkerConnectIsBoundedWithAndWithoutSendTimeout) {
    for (int sendTimeoutMs : {0, static_cast<int>(kNotReached.count())}) {
        const std::size_t descriptors = openDescriptors();
        int fd = 0;
        const auto took = timed([&] {
            fd = device::connectTo("127.0.0.1", silent.port(), 5000, sendTimeoutMs, 300ms);
        });
        EXPECT_EQ(fd, -1) << sendTimeoutMs;
        EXPECT_GE(took, 290ms) << sendTimeoutMs;
        EXPECT_LT(took, kHung) << "the connect time-out did not end it: " << sendTimeoutMs;
        EXPECT_EQ(openDescriptors(), descriptors) << sendTimeoutMs;
    }
}

// --- The presence probe -----------------------------------------------------------

struct ProbeOfSilentPeer : ConnectFixture {
    app::Settings settings;
    acquisition::MeasurementMemory memory;
    std::atomic<bool> ready{true};  // the probe must reset it
    ProbeOfSilentPeer() {
        settings.setIpServer("127.0.0.1");
        settings.port = silent.port();
    }
};

TEST_F(ProbeOfSilentPeer, EndsNotReadyAfterTheConnectTimeout) {
    device::LinkTiming timing;
    timing.replyWait = 5ms;
    timing.connectTimeout = 300ms;
    device::Livetest livetest(settings, memory, ready, timing);
    const auto start = Clock::now();
    livetest.start();
    EXPECT_TRUE(eventually([&] { return livetest.finished(); }, kHung));
    EXPECT_GE(Clock::now() - start, 290ms);
    EXPECT_FALSE(ready.load());
}

TEST_F(ProbeOfSilentPeer, ShutdownWakesAConnectInProgress) {
    device::LinkTiming timing;
    timing.connectTimeout = kNotReached;
    device::Livetest livetest(settings, memory, ready, timing);
    livetest.start();
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(livetest.finished());
    livetest.shutdown();
    // Only the shutdown can end the connect before its time-out.
    EXPECT_TRUE(eventually([&] { return livetest.finished(); }, kHung))
        << "the shutdown did not wake the connect";
    EXPECT_FALSE(ready.load());
}

// --- The sampling thread ------------------------------------------------------------

class IgnoringObserver : public acquisition::SamplingObserver {
public:
    void samplesStored(int32_t) override {}
    void memoryFull() override {}
};

TEST_F(ConnectFixture, SamplingShutdownWakesAStreamConnectInProgress) {
    app::Settings settings;
    settings.setIpServer("127.0.0.1");
    settings.port = silent.port() - 2;  // the stream port is Port + 2
    acquisition::MeasurementMemory memory;
    IgnoringObserver observer;
    device::LinkTiming timing;
    timing.connectTimeout = kNotReached;
    auto check = std::make_unique<acquisition::Check>(settings, memory, &observer, timing);
    check->start();
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(check->connected());
    EXPECT_EQ(check->streamConnects(), 0);
    const auto took = timed([&] { check.reset(); });  // shutdown() and join
    EXPECT_LT(took, kHung) << "the shutdown did not wake the stream connect";
}
