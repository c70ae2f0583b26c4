#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace tarvelo::device::detail {

// The single steps of opening a command-port connection. ConnectServer shows
// a status text between them and the probe must publish its socket before it
// connects, so the steps are separate.

// An IPv4 stream socket (close-on-exec); -1 on failure.
int openStreamSocket();
// SO_RCVTIMEO / SO_SNDTIMEO in milliseconds (0 = no time-out); false on failure.
bool setReceiveTimeout(int fd, int milliseconds);
bool setSendTimeout(int fd, int milliseconds);

// Connects `fd` to a dotted-decimal IPv4 address (no name lookup) and a port
// in 0..65535 without blocking in connect(): a peer that never answers the
// handshake would otherwise hold the caller for the system's connect time-out
// (minutes). The attempt is given up after `timeout` and, when `stop` is
// given, as soon as it is set (looked at every kConnectPollSlice). On success
// the socket is blocking again, as the exchange expects. False when the
// address text is not dotted-decimal, the port is out of range, the connect
// fails, times out or is stopped; the caller closes the socket then. errno
// then says why: EINVAL (address or port), ETIMEDOUT, ECANCELED (stopped) or
// the connect's own error.
bool connectSocket(int fd, const std::string& address, int port, std::chrono::milliseconds timeout,
                   const std::atomic<bool>* stop = nullptr);

// How often a connect in progress looks at its stop flag.
inline constexpr std::chrono::milliseconds kConnectPollSlice{50};

}  // namespace tarvelo::device::detail
