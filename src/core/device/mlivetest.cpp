#include "device/mlivetest.h"

#include <sys/socket.h>
#include <unistd.h>

#include "acquisition/measurement_memory.h"
#include "app/settings.h"
#include "device/replies.h"
#include "device/socket_steps.h"

namespace tarvelo::device {

namespace {

// fd_ holds this while shutdown() works on the socket, so that the probe
// cannot close it (and the number be reused) in between.
constexpr int kFdInUse = -2;

}  // namespace

Livetest::Livetest(const app::Settings& settings, acquisition::MeasurementMemory& memory,
                   std::atomic<bool>& deviceReady, LinkTiming timing)
    : settings_(settings), memory_(memory), deviceReady_(deviceReady), timing_(timing) {}

Livetest::~Livetest() {
    if (thread_.joinable())
        thread_.join();
}

void Livetest::start() {
    if (thread_.joinable() || finished_.load())
        return;
    thread_ = std::thread(&Livetest::run, this);
}

void Livetest::shutdown() {
    stopping_.store(true);
    int fd = fd_.load();
    while (fd >= 0 && !fd_.compare_exchange_weak(fd, kFdInUse)) {
    }
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_RDWR);
    fd_.store(fd);
}

void Livetest::run() {
    memory_.clear();
    deviceReady_.store(false);

    const int fd = detail::openStreamSocket();
    if (fd >= 0) {
        // Published before the connect, so that shutdown() can wake it; a
        // shutdown() that came earlier is seen through stopping_.
        fd_.store(fd);
        const bool ready =
            !stopping_.load() &&
            detail::setReceiveTimeout(fd, static_cast<int>(timing_.workerReceiveTimeout.count())) &&
            detail::connectSocket(fd, settings_.ipServer(), settings_.port.load(),
                                  timing_.connectTimeout, &stopping_) &&
            !stopping_.load() &&
            selectChannelAccepted(exchange(fd, selectChannelCommand(1), timing_), 1) &&
            !stopping_.load() && parseUnit(exchange(fd, kCmdUnit, timing_)).has_value();
        if (ready)
            deviceReady_.store(true);

        // Take the socket back from shutdown() before closing it.
        int expected = fd;
        while (!fd_.compare_exchange_weak(expected, -1)) {
            expected = fd;
            std::this_thread::yield();
        }
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
    finished_.store(true);
}

}  // namespace tarvelo::device
