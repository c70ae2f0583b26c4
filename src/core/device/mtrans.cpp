#include "device/mtrans.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "app/settings.h"
#include "device/socket_steps.h"

namespace tarvelo::device {

int connectTo(const std::string& address, int port, int receiveTimeoutMs, int sendTimeoutMs,
              std::chrono::milliseconds connectTimeout) {
    const int fd = detail::openStreamSocket();
    if (fd < 0)
        return -1;
    const bool ok = detail::setReceiveTimeout(fd, receiveTimeoutMs) &&
                    (sendTimeoutMs <= 0 || detail::setSendTimeout(fd, sendTimeoutMs)) &&
                    detail::connectSocket(fd, address, port, connectTimeout);
    if (!ok) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::string describeConnectFailure(const std::string& address, int port, int error,
                                   std::chrono::milliseconds connectTimeout) {
    const std::string peer = address + ":" + std::to_string(port);
    switch (error) {
        case ECONNREFUSED:
            return "connection refused by " + peer;
        case ETIMEDOUT: {
            const auto ms = connectTimeout.count();
            return "no answer from " + peer + " within " +
                   (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
        }
        case EINVAL:
            return "cannot connect to " + peer + ": not an IPv4 address in dotted-decimal form " +
                   "or a port outside 0 to 65535";
        case ENETUNREACH:
        case EHOSTUNREACH:
            return "cannot reach " + peer + ": " + std::strerror(error);
        default:
            return "cannot connect to " + peer + ": " + std::strerror(error);
    }
}

void closeSocket(int fd) {
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

std::string exchange(int fd, std::string_view command, const LinkTiming& timing, bool* sendFailed,
                     bool* endMarkSeen, ReplyBytes* bytes) {
    if (sendFailed)
        *sendFailed = false;
    if (endMarkSeen)
        *endMarkSeen = false;
    if (bytes)
        *bytes = ReplyBytes{};

    // The frame: command text, 0x00, the end mark 0xA7. It must fit the
    // 1025-byte send buffer; a longer command counts as a failed send.
    if (command.size() > kMaxCommandLength) {
        if (sendFailed)
            *sendFailed = true;
        return {};
    }
    char frame[kMaxCommandLength + 2];
    std::memcpy(frame, command.data(), command.size());
    frame[command.size()] = '\0';
    frame[command.size() + 1] = '\xA7';
    const std::size_t frameLength = command.size() + 2;

    // Without a socket there is nothing to send on: the send fails at once
    // (errno says nothing about this exchange then).
    if (fd < 0) {
        if (sendFailed)
            *sendFailed = true;
        return {};
    }
    // One send call of the whole frame. MSG_NOSIGNAL: a peer that has closed
    // the connection gives an error here instead of SIGPIPE.
    ssize_t sent;
    do {
        sent = ::send(fd, frame, frameLength, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(frameLength)) {
        if (sendFailed)
            *sendFailed = true;
        return {};
    }

    // The instrument needs time to answer; the caller's thread does nothing
    // else meanwhile.
    const auto until = std::chrono::steady_clock::now() + timing.replyWait;
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_until(until);

    std::string reply;
    char chunk[kReceiveChunk];
    const auto giveUp = std::chrono::steady_clock::now() + timing.replyLimit;
    for (;;) {
        if (std::chrono::steady_clock::now() >= giveUp)
            return reply;
        ssize_t n;
        do {
            n = ::recv(fd, chunk, kReceiveChunk, 0);
        } while (n < 0 && errno == EINTR);
        // Closed, error or time-out: what has arrived is the reply.
        if (n <= 0) {
            if (bytes)
                bytes->closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            return reply;
        }
        if (bytes) {
            bytes->received += static_cast<std::size_t>(n);
            bytes->endsWithMark = static_cast<unsigned char>(chunk[n - 1]) == 0xA7;
        }

        // Of each chunk only the bytes before its first 0x00 belong to the
        // text; past kMaxReplyLength nothing more is kept.
        const auto* zero = static_cast<const char*>(std::memchr(chunk, '\0', n));
        std::size_t textLength = zero ? static_cast<std::size_t>(zero - chunk) : n;
        if (reply.size() < kMaxReplyLength)
            reply.append(chunk, std::min(textLength, kMaxReplyLength - reply.size()));

        // A full chunk means more is coming, and a short one (fewer than five
        // bytes) is never taken as the end; otherwise the end mark as the
        // chunk's last byte ends the reply.
        if (static_cast<std::size_t>(n) == kReceiveChunk)
            continue;
        if (n < 5)
            continue;
        if (static_cast<unsigned char>(chunk[n - 1]) == 0xA7) {
            if (endMarkSeen)
                *endMarkSeen = true;
            return reply;
        }
    }
}

DeviceLink::DeviceLink(const app::Settings& settings, const std::atomic<int32_t>& socketTimeoutMs,
                       LinkObserver* observer, LinkTiming timing)
    : settings_(settings),
      socketTimeoutMs_(socketTimeoutMs),
      observer_(observer),
      timing_(timing) {}

DeviceLink::~DeviceLink() {
    closeSocket(fd_);
}

int DeviceLink::ConnectServer() {
    // A connection left open by a caller is not leaked.
    closeSocket(fd_);
    fd_ = -1;

    const int fd = detail::openStreamSocket();
    if (fd < 0) {
        lastConnectError_ = errno;
        return -1;
    }

    const int timeoutMs = socketTimeoutMs_.load();
    if (!detail::setReceiveTimeout(fd, timeoutMs) || !detail::setSendTimeout(fd, timeoutMs)) {
        lastConnectError_ = errno;
        ::close(fd);
        if (observer_)
            observer_->showStatus(kStatusFailed);
        return -1;
    }

    if (observer_)
        observer_->showStatus(kStatusConnecting);
    // Bounded by the connect time-out: a timed-out connect is a failed one.
    if (!detail::connectSocket(fd, settings_.ipServer(), settings_.port.load(),
                               timing_.connectTimeout)) {
        lastConnectError_ = errno;
        ::close(fd);
        if (observer_)
            observer_->showStatus(kStatusFailed);
        return -1;
    }
    fd_ = fd;
    return 0;
}

std::string DeviceLink::SendReceive(std::string_view command) {
    bool sendFailed = false;
    bool endMarkSeen = false;
    ReplyBytes bytes;
    // Without a connection the send fails like any other.
    std::string reply = exchange(fd_, command, timing_, &sendFailed, &endMarkSeen, &bytes);
    lastReplySilent_ = !sendFailed && bytes.received == 0;
    lastReplyCut_ = bytes.closed && !endMarkSeen && !bytes.endsWithMark;
    lastSendFailed_ = sendFailed;
    if (sendFailed) {
        if (observer_)
            observer_->showSendError();
        return {};
    }
    if (endMarkSeen && observer_)
        observer_->showStatus(kStatusReceived);
    return reply;
}

void DeviceLink::DisconnectServer() {
    closeSocket(fd_);
    fd_ = -1;
    if (observer_)
        observer_->showStatus(kStatusTerminated);
}

}  // namespace tarvelo::device
