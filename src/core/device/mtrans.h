#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvelo::app {
class Settings;
}

namespace tarvelo::device {

// Status texts of the link, as UiText entries.
enum LinkStatus : int {
    kStatusConnecting = 0,    // "Connecting to Device"
    kStatusFailed = 1,        // "Connection to Device failed"
    kStatusTerminated = 2,    // "Connection to Device terminated"
    kStatusReceived = 4,      // "Data from Device received"
};

// What the user-interface link reports; the main window implements it, the
// tests record it. The link never depends on a window.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    virtual void showStatus(int uiTextEntry) = 0;
    // Message box "Send error", empty caption, OK button.
    virtual void showSendError() = 0;
};

inline constexpr std::chrono::milliseconds kDefaultConnectTimeout{3000};

// The fixed wait after a send and the time-outs. The program always uses the
// defaults; tests of long sequences shorten them.
struct LinkTiming {
    std::chrono::milliseconds replyWait{100};
    // Receive time-out of the worker threads' sockets (the user-interface
    // socket uses SocketTimeoutMs).
    std::chrono::milliseconds workerReceiveTimeout{1000};
    // How long the receive of one reply may go on, however the bytes come
    // in. A peer that keeps sending without ever ending its reply would
    // otherwise hold the caller's thread for good (each chunk restarts the
    // receive time-out); past this the exchange returns what it has.
    std::chrono::milliseconds replyLimit{10000};
    // How long a connect may wait for the instrument's answer to its
    // handshake. An instrument that has dropped off the network answers
    // nothing, and the system's own connect time-out (about two minutes)
    // would hold the caller's thread that long. On the local network the
    // instrument answers within milliseconds; three seconds still leave room
    // for one lost handshake segment to be sent again (after one second).
    std::chrono::milliseconds connectTimeout{kDefaultConnectTimeout};
    // Pause of the sampling thread between two connect attempts on the
    // stream port.
    std::chrono::milliseconds reconnectInterval{1000};
};

inline constexpr std::size_t kMaxCommandLength = 1023;
inline constexpr std::size_t kReceiveChunk = 4000;
// A reply text is cut at this size, so an instrument that never sends the end
// mark cannot exhaust memory; the exchange still ends by the usual rules.
inline constexpr std::size_t kMaxReplyLength = 64 * 1024;

// Creates an IPv4 stream socket connected to address:port with the given
// receive (and, if > 0, send) time-outs; -1 on any failure, with the socket
// closed. The connect is given up after `connectTimeout`. `address` must be
// dotted-decimal; no name lookup is made. On failure errno says why (as
// detail::connectSocket sets it).
int connectTo(const std::string& address, int port, int receiveTimeoutMs, int sendTimeoutMs,
              std::chrono::milliseconds connectTimeout = kDefaultConnectTimeout);
// A connect failure with the errno it left, for people and scripts:
// "connection refused by 127.0.0.1:4000", "no answer from ... within 3 s", ...
std::string describeConnectFailure(
    const std::string& address, int port, int error,
    std::chrono::milliseconds connectTimeout = kDefaultConnectTimeout);
// Shuts a socket down in both directions and closes it.
void closeSocket(int fd);

// One command/reply exchange on `fd`: the frame (command, 0x00, 0xA7), the
// wait, the chunked receive up to the end rule. Returns the reply text as
// received (Windows-1252 bytes). `sendFailed` is set when the send failed.
// This is the worker threads' copy: it shows nothing.
struct ReplyBytes {
    std::size_t received = 0;   // every byte that arrived, framing included
    bool endsWithMark = false;  // the last byte that arrived was the end mark
    bool closed = false;        // the receive ended with a closed or broken
                                // connection (not the time-out or the end rule)
};
std::string exchange(int fd, std::string_view command, const LinkTiming& timing,
                     bool* sendFailed = nullptr, bool* endMarkSeen = nullptr,
                     ReplyBytes* bytes = nullptr);

// The user-interface thread's command connection: ConnectServer,
// SendReceive, DisconnectServer. The address and port are read from the
// settings at every connect.
class DeviceLink {
public:
    DeviceLink(const app::Settings& settings, const std::atomic<int32_t>& socketTimeoutMs,
               LinkObserver* observer, LinkTiming timing = {});
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // 0 = connected, -1 = failed.
    int ConnectServer();
    // Reply text (Windows-1252 bytes), empty when nothing arrived or the send
    // failed.
    std::string SendReceive(std::string_view command);
    void DisconnectServer();

    bool connected() const { return fd_ >= 0; }
    // The last SendReceive sent its command but not a single byte came back
    // before the receive time-out or the close: an instrument that accepts
    // connections but does not answer (hung, stopped). A malformed or cut
    // reply is not silent.
    bool lastReplySilent() const { return lastReplySilent_; }
    // The last SendReceive could not send its command ("Send error").
    bool lastSendFailed() const { return lastSendFailed_; }
    // The last SendReceive's reply was cut: the connection closed or broke
    // before the end mark arrived. (A reply whose end is found by the
    // receive time-out is not cut.)
    bool lastReplyCut() const { return lastReplyCut_; }
    // The errno of the last failed ConnectServer (0 before any failure).
    int lastConnectError() const { return lastConnectError_; }
    const LinkTiming& timing() const { return timing_; }

private:
    const app::Settings& settings_;
    const std::atomic<int32_t>& socketTimeoutMs_;
    LinkObserver* observer_;
    LinkTiming timing_;
    int fd_ = -1;
    int lastConnectError_ = 0;
    bool lastReplySilent_ = false;
    bool lastReplyCut_ = false;
    bool lastSendFailed_ = false;
};

}  // namespace tarvelo::device
