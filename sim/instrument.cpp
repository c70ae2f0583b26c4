#include "sim/instrument.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <list>
#include <map>
#include <numbers>
#include <mutex>
#include <string_view>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvelo::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::string_view kEndFrame("\0\xA7", 2);
constexpr std::size_t kRecordSize = 48;
// Records per write when streaming as fast as the connection takes them: just under 64 KiB.
constexpr std::size_t kFastBatchRecords = 65536 / kRecordSize;
// How often the paced stream looks for records that have become due.
constexpr auto kStreamTick = 10ms;
// How long the listening threads wait in poll() before they look at their state again.
constexpr int kPollMs = 20;
// Default pause before the end mark goes out alone: well after the peer's 100 ms wait,
// so that its first receive sees the reply text without the end mark.
constexpr auto kEndMarkAloneDelay = 200ms;
// A peer that never sends an end mark cannot make a connection buffer grow beyond this.
constexpr std::size_t kMaxPendingCommand = 1 << 20;

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// A listening socket on 127.0.0.1:port (port 0: any free port); -1 on failure.
int listenOn(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

uint16_t localPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

// Accepts one pending connection if poll() reports one within the poll interval.
int acceptWithin(int listenFd) {
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, kPollMs) <= 0 || !(p.revents & POLLIN))
        return -1;
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        int one = 1;  // every write is meant to be a segment of its own
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

// Writes all bytes (blocking); returns how many went out before an error.
std::size_t sendAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool sendAll(int fd, std::string_view bytes) {
    return sendAll(fd, bytes.data(), bytes.size()) == bytes.size();
}

// Shortest fixed-point text of v with "." as decimal mark, independent of the C locale.
std::string plainNumber(double v) {
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return std::string(buf, res.ptr);
}

// " 12.34567" / "-3.10000": the instrument's live value texts.
std::string liveNumber(double v) {
    char buf[400];
    char* p = buf;
    if (!(v < 0))
        *p++ = ' ';
    auto res = std::to_chars(p, buf + sizeof buf, v, std::chars_format::fixed, 5);
    return std::string(buf, res.ptr);
}

// The decimal data-set number after a fixed prefix; false unless the rest is all digits.
bool parseIndex(std::string_view digits, uint64_t& n) {
    if (digits.empty() || digits.size() > 18)
        return false;
    auto res = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return res.ec == std::errc() && res.ptr == digits.data() + digits.size();
}

// A well-mixed 64-bit value from x (the splitmix64 finaliser).
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Channel c's signal at a device time, in the channel's unit: a level of 10 c, a slow drift of
// up to c over a quarter to three quarters of an hour, a periodic part of up to 2.5 c with a
// period of 4 + c seconds and noise of up to 0.02 c. The noise is drawn from the millisecond
// and the channel, so the whole signal is a function of the device clock: a single shot and
// the stream record stamped with the same millisecond carry the same values.
double signalAt(double deviceMs, double clockStartMs, int c) {
    const double t = (deviceMs - clockStartMs) / 1000.0;
    const double drift = c * std::sin(2 * std::numbers::pi * t / (900.0 + 600.0 * c));
    const double periodic = 2.5 * c * std::sin(2 * std::numbers::pi * t / (4.0 + c));
    const uint64_t seed = static_cast<uint64_t>(static_cast<int64_t>(deviceMs)) * 4 + (c - 1);
    const double unit = static_cast<double>(mix(seed) >> 11) * 0x1.0p-53;  // [0, 1)
    const double noise = 0.02 * c * (2 * unit - 1);
    return 10.0 * c + drift + periodic + noise;
}

struct Connection {
    int fd = -1;
    std::thread thread;
    bool done = false;  // guarded by Impl::connMu
};

}  // namespace

struct Instrument::Impl {
    explicit Impl(InstrumentConfig c) : config(std::move(c)) {}

    InstrumentConfig config;

    // Guards the settings that tests change while the instrument runs, the command log and
    // the listening state of the command port.
    mutable std::mutex mu;
    std::condition_variable cv;  // stop requests, listening state changes
    CommandFault commandFault = CommandFault::None;
    std::vector<std::size_t> chunkSizes;
    std::chrono::milliseconds chunkDelay{0};
    std::size_t oversizeBytes = 65536;
    std::map<std::string, std::string> overrides;
    std::vector<std::string> log;
    bool wantListening = true;
    bool listening = false;
    bool stopping = false;
    bool running = false;

    std::atomic<uint64_t> commandsReceived{0};
    double clockStartMs = 0;
    Clock::time_point startedAt;
    uint16_t port = 0;
    int commandListenFd = -1;  // owned by the accept thread while running
    int streamListenFd = -1;
    std::thread acceptThread;
    std::thread streamThread;

    std::mutex connMu;
    std::list<Connection> connections;

    // Stream state, guarded by streamMu.
    std::mutex streamMu;
    std::condition_variable streamCv;
    StreamFault streamFault = StreamFault::None;
    bool streamRequested = false;  // between "#L01" and "#L02"
    bool senderActive = false;     // the sender is writing (or about to write) records
    int streamFd = -1;             // closed only by the stream thread
    double recordsPerSecond = 1000.0;
    uint64_t rateGeneration = 0;
    std::atomic<uint64_t> recordsSent{0};
    std::atomic<int> streamConnections{0};

    bool isStopping() {
        std::lock_guard lock(mu);
        return stopping;
    }

    // Sleeps for d unless stop() comes first; false when stopping.
    bool pause(std::chrono::milliseconds d) {
        std::unique_lock lock(mu);
        return !cv.wait_for(lock, d, [this] { return stopping; });
    }

    double deviceNowMs() const {
        auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - startedAt);
        return std::floor(clockStartMs + elapsed.count());
    }

    // ---- replies -------------------------------------------------------------------------

    int32_t batchCount() const {
        return config.batchRecords.empty() ? config.batchCount
                                           : static_cast<int32_t>(config.batchRecords.size());
    }

    BatchRecord batchRecord(uint64_t n) const {
        if (n >= static_cast<uint64_t>(std::max<int32_t>(batchCount(), 0)))
            return {};
        if (!config.batchRecords.empty())
            return config.batchRecords[n];
        BatchRecord r;
        for (int c = 0; c < 4; ++c) {
            r.value[c] = 10.0 * (c + 1) + 2.5 + static_cast<double>(n % 400) * 0.25;
            r.upperPeak[c] = r.value[c] + 1.25;
            r.lowerPeak[c] = r.value[c] - 1.75;
        }
        r.timeMs = std::floor(clockStartMs / 1000.0) * 1000.0 -
                   static_cast<double>(static_cast<uint64_t>(batchCount()) - n) * 60000.0;
        if (n % 4 != 3) {
            r.batch = "Lot " + std::to_string(n / 4 + 1);
            r.batchIndex = std::to_string(n % 4 + 1);
        }
        return r;
    }

    static std::string fields(const std::array<double, 4>& v) {
        std::string s;
        for (double x : v)
            s += plainNumber(x) + "|";
        return s;
    }

    // The reply text to one command; `selected` is the connection's channel for "#Z75".
    std::string reply(const std::string& cmd, int& selected) {
        std::array<std::string, 4> units;
        {
            std::lock_guard lock(mu);
            units = config.units;
        }
        if (cmd.size() == 5 && cmd.compare(0, 4, "#Z00") == 0 && cmd[4] >= '1' && cmd[4] <= '4') {
            selected = cmd[4] - '0';
            return cmd;
        }
        if (cmd == "#Z75")
            return "#Z75" + units[selected - 1];
        if (cmd == "#X00") {
            const double now = deviceNowMs();
            std::string s = "#X00";
            for (int c = 1; c <= 4; ++c) {
                if (units[c - 1].empty()) {
                    s += "N.C.  |";
                    continue;
                }
                double v = signalAt(now, clockStartMs, c);
                s += liveNumber(std::round(v * 1e5) / 1e5) + "|";
            }
            return s + plainNumber(now) + "|";
        }
        if (cmd == "#L01" || cmd == "#L02") {
            {
                std::lock_guard lock(streamMu);
                streamRequested = cmd == "#L01";
            }
            streamCv.notify_all();
            return cmd;
        }
        if (cmd == "#M01")
            return "#M01" + std::to_string(batchCount() - 1);

        uint64_t n = 0;
        std::string_view head(cmd);
        if (head.size() > 4 && parseIndex(head.substr(4), n)) {
            std::string_view prefix = head.substr(0, 4);
            if (prefix == "#M11")
                return "#M11" + fields(batchRecord(n).value);
            if (prefix == "#M21")
                return "#M21" + fields(batchRecord(n).upperPeak);
            if (prefix == "#M31")
                return "#M31" + fields(batchRecord(n).lowerPeak);
            if (prefix == "#M40") {
                BatchRecord r = batchRecord(n);
                return "#M40" + plainNumber(r.timeMs) + "|" + r.batch + "|" + r.batchIndex + "|";
            }
            if ((prefix == "#M51" || prefix == "#M52" || prefix == "#M53" || prefix == "#M54" ||
                 prefix == "#M61" || prefix == "#M62" || prefix == "#M63" || prefix == "#M64")) {
                int s = prefix[3] - '1';
                if (prefix[2] == '5')
                    return std::string(prefix) + units[s];
                std::lock_guard lock(mu);
                return std::string(prefix) + config.serials[s];
            }
        }
        return "#ERR";
    }

    // Sends the reply to one command, faults included; false when the connection must end.
    bool answer(int fd, const std::string& cmd, int& selected) {
        commandsReceived.fetch_add(1);
        std::string text = reply(cmd, selected);
        CommandFault fault;
        std::vector<std::size_t> chunks;
        std::chrono::milliseconds delay;
        std::size_t oversize;
        {
            std::lock_guard lock(mu);
            log.push_back(cmd);
            if (auto it = overrides.find(cmd); it != overrides.end())
                text = it->second;
            fault = commandFault;
            chunks = chunkSizes;
            delay = chunkDelay;
            oversize = oversizeBytes;
        }
        std::string frame = text + std::string(kEndFrame);
        switch (fault) {
            case CommandFault::None:
            case CommandFault::RefuseConnections:
                return sendAll(fd, frame);
            case CommandFault::SplitReply: {
                if (chunks.empty())
                    chunks.push_back(frame.size());
                std::size_t pos = 0;
                for (std::size_t i = 0; pos < frame.size(); ++i) {
                    std::size_t size =
                        std::max<std::size_t>(1, chunks[std::min(i, chunks.size() - 1)]);
                    if (pos > 0 && !pause(delay))
                        return false;
                    std::string_view part = std::string_view(frame).substr(pos, size);
                    if (!sendAll(fd, part))
                        return false;
                    pos += part.size();
                }
                return true;
            }
            case CommandFault::EndMarkAlone:
                if (!sendAll(fd, text))
                    return false;
                if (!pause(delay.count() > 0 ? delay : kEndMarkAloneDelay))
                    return false;
                return sendAll(fd, kEndFrame);
            case CommandFault::NoEndMark:
                return sendAll(fd, text);
            case CommandFault::WrongEcho:
                frame.replace(0, std::min<std::size_t>(4, text.size()), "#ERR");
                return sendAll(fd, frame);
            case CommandFault::NoReply:
                return true;
            case CommandFault::CloseMidReply:
                sendAll(fd, std::string_view(text).substr(0, text.size() / 2));
                return false;
            case CommandFault::OversizedReply:
                return sendAll(
                    fd, cmd.substr(0, 4) + std::string(oversize, 'x') + std::string(kEndFrame));
        }
        return false;
    }

    // ---- command port ----------------------------------------------------------------------

    void serve(Connection* conn) {
        int fd = conn->fd;
        std::string pending;
        int selected = 1;
        char buf[4096];
        bool open = true;
        while (open && !isStopping()) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t end;
            while (open && (end = pending.find(kEndFrame)) != std::string::npos) {
                std::string cmd = pending.substr(0, end);
                pending.erase(0, end + kEndFrame.size());
                open = answer(fd, cmd, selected);
            }
            if (pending.size() > kMaxPendingCommand)
                pending.clear();
        }
        std::lock_guard lock(connMu);
        closeFd(conn->fd);
        conn->done = true;
    }

    void reapConnections() {
        std::lock_guard lock(connMu);
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->done) {
                it->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void acceptLoop() {
        while (true) {
            {
                std::lock_guard lock(mu);
                if (stopping)
                    break;
                if (wantListening && commandListenFd < 0)
                    commandListenFd = listenOn(port);
                if (!wantListening && commandListenFd >= 0)
                    closeFd(commandListenFd);
                listening = commandListenFd >= 0;
            }
            cv.notify_all();
            if (commandListenFd < 0) {
                pause(std::chrono::milliseconds(kPollMs));
                continue;
            }
            int fd = acceptWithin(commandListenFd);
            if (fd < 0)
                continue;
            reapConnections();
            std::lock_guard lock(connMu);
            Connection& conn = connections.emplace_back();
            conn.fd = fd;
            conn.thread = std::thread([this, &conn] { serve(&conn); });
        }
        closeFd(commandListenFd);
    }

    // ---- stream port -----------------------------------------------------------------------

    static_assert(std::endian::native == std::endian::little,
                  "stream records are written in host byte order, which must be little-endian");

    // Record i: exact values (`units` null) or the signal at `timeMs`, where channels without
    // a unit read 0.
    static void putRecord(char* out, uint64_t i, double timeMs, double clockStart,
                          const std::array<std::string, 4>* units) {
        std::memset(out, 0, kRecordSize);
        for (int c = 1; c <= 4; ++c) {
            double v = !units                    ? Instrument::recordValue(i, c)
                       : (*units)[c - 1].empty() ? 0.0
                                                 : signalAt(timeMs, clockStart, c);
            std::memcpy(out + 8 * (c - 1), &v, 8);
        }
        std::memcpy(out + 32, &timeMs, 8);
        out[40] = static_cast<char>(i % 256);
    }

    // Called with streamMu held.
    void closeStream() {
        closeFd(streamFd);
        senderActive = false;
        streamCv.notify_all();
    }

    // Refuses every connection and closes the stream: nothing answers any more.
    void dropOff() {
        {
            std::lock_guard lock(mu);
            wantListening = false;
        }
        cv.notify_all();
        {
            std::lock_guard lock(streamMu);
            streamFault = StreamFault::CloseStream;
            // The stream thread closes it; a send in progress ends at once.
            if (streamFd >= 0)
                ::shutdown(streamFd, SHUT_RDWR);
        }
        streamCv.notify_all();
    }

    void streamLoop() {
        std::vector<char> buf(kFastBatchRecords * kRecordSize);
        bool paced = false;  // pacing base valid
        Clock::time_point base;
        uint64_t baseCount = 0;
        uint64_t seenGeneration = 0;
        // Signal stream: the time stamps continue the device clock from where a run of the
        // stream starts (never going back), one step per record.
        const bool signal = config.stream == StreamSignal::Signal;
        bool stamped = false;
        double stampBase = 0;
        double stampStep = 1;
        uint64_t stampCount = 0;
        double lastStamp = std::numeric_limits<double>::lowest();
        while (!isStopping()) {
            std::unique_lock lock(streamMu);
            if (streamFd < 0) {
                lock.unlock();
                int fd = acceptWithin(streamListenFd);
                if (fd < 0)
                    continue;
                streamConnections.fetch_add(1);
                lock.lock();
                streamFd = fd;
                paced = false;
                stamped = false;
                if (streamFault == StreamFault::CloseStream)
                    closeStream();
                continue;
            }
            if (streamFault == StreamFault::CloseStream) {
                closeStream();
                continue;
            }
            bool want = streamRequested && streamFault != StreamFault::Stall;
            if (!want) {
                senderActive = false;
                paced = false;
                stamped = false;
                streamCv.notify_all();
                int fd = streamFd;
                lock.unlock();
                // Idle: notice a peer that closes, discard anything it sends.
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, kPollMs) > 0) {
                    char junk[512];
                    ssize_t n = ::recv(fd, junk, sizeof junk, MSG_DONTWAIT);
                    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                        lock.lock();
                        closeStream();
                    }
                }
                continue;
            }
            senderActive = true;
            double rate = recordsPerSecond;
            bool split = streamFault == StreamFault::SplitRecords;
            if (rateGeneration != seenGeneration) {
                seenGeneration = rateGeneration;
                paced = false;
                stamped = false;
            }
            int fd = streamFd;
            uint64_t first = recordsSent.load();
            std::size_t count = kFastBatchRecords;
            if (rate > 0) {
                auto now = Clock::now();
                if (!paced) {
                    paced = true;
                    base = now;
                    baseCount = first;
                }
                double elapsed = std::chrono::duration<double>(now - base).count();
                auto due = static_cast<uint64_t>(elapsed * rate) + 1;  // the first one at once
                uint64_t have = first - baseCount;
                if (due <= have) {
                    streamCv.wait_for(lock, kStreamTick);
                    continue;
                }
                count = static_cast<std::size_t>(std::min<uint64_t>(due - have, kFastBatchRecords));
            }
            if (split)
                count = 1;
            if (config.dropAfterRecords > 0) {
                if (first >= config.dropAfterRecords) {
                    lock.unlock();
                    dropOff();
                    continue;
                }
                count = static_cast<std::size_t>(
                    std::min<uint64_t>(count, config.dropAfterRecords - first));
            }
            if (signal && !stamped) {
                stamped = true;
                stampStep = rate > 0 ? 1000.0 / rate : 1.0;
                stampBase = std::max(deviceNowMs(), lastStamp + stampStep);
                stampCount = first;
            }
            lock.unlock();

            std::array<std::string, 4> units;
            if (signal) {
                std::lock_guard unitsLock(mu);
                units = config.units;
            }
            for (std::size_t k = 0; k < count; ++k) {
                const uint64_t i = first + k;
                double timeMs = clockStartMs + static_cast<double>(i);
                if (signal) {
                    timeMs =
                        std::floor(stampBase + static_cast<double>(i - stampCount) * stampStep);
                    lastStamp = timeMs;
                }
                putRecord(&buf[k * kRecordSize], i, timeMs, clockStartMs,
                          signal ? &units : nullptr);
            }
            std::size_t bytes = count * kRecordSize;
            std::size_t written;
            if (split) {
                written = sendAll(fd, buf.data(), 20);
                if (written == 20) {
                    std::this_thread::sleep_for(1ms);
                    written += sendAll(fd, buf.data() + 20, kRecordSize - 20);
                }
            } else {
                written = sendAll(fd, buf.data(), bytes);
            }
            recordsSent.fetch_add(written / kRecordSize);
            if (written != bytes) {
                lock.lock();
                closeStream();
            }
        }
        std::unique_lock lock(streamMu);
        closeStream();
    }
};

Instrument::Instrument(InstrumentConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
    impl_->recordsPerSecond = impl_->config.recordsPerSecond;
}

Instrument::~Instrument() {
    stop();
}

bool Instrument::start() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mu);
        if (d.running)
            return true;
    }
    int cmdFd = -1;
    int streamFd = -1;
    if (d.config.port != 0) {
        if (d.config.port <= 65533) {
            cmdFd = listenOn(d.config.port);
            streamFd = cmdFd >= 0 ? listenOn(static_cast<uint16_t>(d.config.port + 2)) : -1;
        }
    } else {
        // Let the system pick the command port; retry until port + 2 is free as well.
        for (int attempt = 0; attempt < 100 && streamFd < 0; ++attempt) {
            closeFd(cmdFd);
            cmdFd = listenOn(0);
            uint16_t p = cmdFd >= 0 ? localPort(cmdFd) : 0;
            if (p != 0 && p <= 65533)
                streamFd = listenOn(static_cast<uint16_t>(p + 2));
        }
    }
    if (cmdFd < 0 || streamFd < 0) {
        closeFd(cmdFd);
        closeFd(streamFd);
        return false;
    }
    d.port = localPort(cmdFd);
    d.commandListenFd = cmdFd;
    d.streamListenFd = streamFd;
    d.clockStartMs =
        d.config.clockStartMs != 0
            ? d.config.clockStartMs
            : static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count());
    d.startedAt = Clock::now();
    {
        std::lock_guard lock(d.mu);
        d.stopping = false;
        d.running = true;
        d.listening = true;
    }
    d.acceptThread = std::thread([&d] { d.acceptLoop(); });
    d.streamThread = std::thread([&d] { d.streamLoop(); });
    return true;
}

void Instrument::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mu);
        if (!d.running)
            return;
        d.stopping = true;
    }
    d.cv.notify_all();
    {
        std::lock_guard lock(d.streamMu);
        if (d.streamFd >= 0)
            ::shutdown(d.streamFd, SHUT_RDWR);
    }
    d.streamCv.notify_all();
    d.acceptThread.join();
    d.streamThread.join();
    {
        std::lock_guard lock(d.connMu);
        for (Connection& c : d.connections)
            if (c.fd >= 0)
                ::shutdown(c.fd, SHUT_RDWR);
    }
    for (Connection& c : d.connections)
        c.thread.join();
    d.connections.clear();
    closeFd(d.streamListenFd);
    {
        std::lock_guard lock(d.streamMu);
        d.streamRequested = false;
        d.senderActive = false;
    }
    std::lock_guard lock(d.mu);
    d.running = false;
    d.listening = false;
}

uint16_t Instrument::commandPort() const {
    return impl_->port;
}

uint16_t Instrument::streamPort() const {
    return impl_->port == 0 ? 0 : static_cast<uint16_t>(impl_->port + 2);
}

void Instrument::setCommandFault(CommandFault fault) {
    Impl& d = *impl_;
    std::unique_lock lock(d.mu);
    d.commandFault = fault;
    d.wantListening = fault != CommandFault::RefuseConnections;
    if (!d.running)
        return;
    // Return only once the listening socket is closed (or open again).
    d.cv.wait_for(lock, 2s, [&d] { return d.stopping || d.listening == d.wantListening; });
}

void Instrument::setChunking(std::vector<std::size_t> chunkSizes, std::chrono::milliseconds delay) {
    std::lock_guard lock(impl_->mu);
    impl_->chunkSizes = std::move(chunkSizes);
    impl_->chunkDelay = delay;
}

void Instrument::setOversizeBytes(std::size_t bytes) {
    std::lock_guard lock(impl_->mu);
    impl_->oversizeBytes = bytes;
}

void Instrument::setStreamFault(StreamFault fault) {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.streamMu);
        d.streamFault = fault;
        // Close the current stream connection at once, even in the middle of a write.
        if (fault == StreamFault::CloseStream && d.streamFd >= 0)
            ::shutdown(d.streamFd, SHUT_RDWR);
    }
    d.streamCv.notify_all();
}

void Instrument::overrideReply(const std::string& command, const std::string& reply) {
    std::lock_guard lock(impl_->mu);
    impl_->overrides[command] = reply;
}

void Instrument::clearReplyOverrides() {
    std::lock_guard lock(impl_->mu);
    impl_->overrides.clear();
}

void Instrument::setUnit(int channel, std::string unit) {
    if (channel < 1 || channel > 4)
        return;
    std::lock_guard lock(impl_->mu);
    impl_->config.units[channel - 1] = std::move(unit);
}

void Instrument::setRecordsPerSecond(double rate) {
    {
        std::lock_guard lock(impl_->streamMu);
        impl_->recordsPerSecond = rate;
        ++impl_->rateGeneration;
    }
    impl_->streamCv.notify_all();
}

double Instrument::recordValue(uint64_t recordIndex, int channel) {
    // Exact in a double for any realistic record count, so received values compare with ==.
    return 1000.0 * channel + 0.25 * static_cast<double>(recordIndex);
}

bool Instrument::streaming() const {
    std::lock_guard lock(impl_->streamMu);
    return impl_->streamRequested || impl_->senderActive;
}

void Instrument::dropOff() {
    impl_->dropOff();
}

uint64_t Instrument::recordsSent() const {
    return impl_->recordsSent.load();
}

uint64_t Instrument::commandsReceived() const {
    return impl_->commandsReceived.load();
}

std::vector<std::string> Instrument::commandLog() const {
    std::lock_guard lock(impl_->mu);
    return impl_->log;
}

void Instrument::clearCommandLog() {
    std::lock_guard lock(impl_->mu);
    impl_->log.clear();
}

int Instrument::streamConnections() const {
    return impl_->streamConnections.load();
}

}  // namespace tarvelo::sim
