#include "device/socket_steps.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace tarvelo::device::detail {

namespace {

using Clock = std::chrono::steady_clock;

bool setTimeout(int fd, int option, int milliseconds) {
    if (milliseconds < 0)
        return false;
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

// Waits until the non-blocking connect on `fd` has ended, the deadline has
// passed or `stop` is set; true only when the socket is connected.
bool awaitConnected(int fd, Clock::time_point deadline, const std::atomic<bool>* stop) {
    for (;;) {
        if (stop && stop->load()) {
            errno = ECANCELED;
            return false;
        }
        const auto left =
            std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                     std::chrono::milliseconds{0});
        const auto slice = stop ? std::min(left, kConnectPollSlice) : left;
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(slice.count()));
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready == 0 && Clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
    }
    if (stop && stop->load()) {
        errno = ECANCELED;
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return false;
    if (error != 0) {
        errno = error;
        return false;
    }
    // A socket shut down while it was connecting reports no error but has no
    // peer either.
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;
}

}  // namespace

int openStreamSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

bool setReceiveTimeout(int fd, int milliseconds) {
    return setTimeout(fd, SO_RCVTIMEO, milliseconds);
}

bool setSendTimeout(int fd, int milliseconds) {
    return setTimeout(fd, SO_SNDTIMEO, milliseconds);
}

bool connectSocket(int fd, const std::string& address, int port, std::chrono::milliseconds timeout,
                   const std::atomic<bool>* stop) {
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    // Numbers and dots only, no host names; inet_aton takes what the
    // instrument's address has always been read as (short forms, octal and
    // hex parts, blanks after the address).
    if (::inet_aton(address.c_str(), &peer.sin_addr) == 0) {
        errno = EINVAL;
        return false;
    }

    // Taken before the connect starts; a day caps the time-out so that the
    // deadline cannot overflow.
    const auto deadline =
        Clock::now() + std::clamp(timeout, std::chrono::milliseconds{0},
                                  std::chrono::milliseconds{std::chrono::hours{24}});
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        // An interrupted connect goes on in the background like one in progress.
        if (errno != EINPROGRESS && errno != EINTR)
            return false;
        if (!awaitConnected(fd, deadline, stop))
            return false;
    }
    // The exchange relies on blocking receives bounded by SO_RCVTIMEO.
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace tarvelo::device::detail
