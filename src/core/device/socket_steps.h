#pragma once

#include <string>

namespace tarvelo::device::detail {

// The single steps of opening a command-port connection. ConnectServer shows
// a status text between them and the probe must publish its socket before it
// blocks in connect, so the steps are separate.

// An IPv4 stream socket (close-on-exec); -1 on failure.
int openStreamSocket();
// SO_RCVTIMEO / SO_SNDTIMEO in milliseconds (0 = no time-out); false on failure.
bool setReceiveTimeout(int fd, int milliseconds);
bool setSendTimeout(int fd, int milliseconds);
// Connects to a dotted-decimal IPv4 address (no name lookup) and a port in
// 0..65535; false when the address text is not dotted-decimal, the port is
// out of range or the connect fails.
bool connectSocket(int fd, const std::string& address, int port);

}  // namespace tarvelo::device::detail
