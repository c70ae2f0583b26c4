#pragma once

#include <atomic>
#include <thread>

#include "device/mtrans.h"

namespace tarvelo::app {
class Settings;
}
namespace tarvelo::acquisition {
class MeasurementMemory;
}

namespace tarvelo::device {

// The start-up presence probe: one "#Z001" / "#Z75" exchange on its own
// socket; sets `deviceReady` when the instrument answers both correctly.
// Runs once, on its own thread, from start().
class Livetest {
public:
    Livetest(const app::Settings& settings, acquisition::MeasurementMemory& memory,
             std::atomic<bool>& deviceReady, LinkTiming timing = {});
    // Joins the thread: the probe ends within its connect and receive
    // time-outs, and shutdown() makes it end at once.
    ~Livetest();

    void start();
    // Wakes a probe that waits in connect or receive (the program is closing).
    void shutdown();
    bool finished() const { return finished_.load(); }

private:
    void run();

    const app::Settings& settings_;
    acquisition::MeasurementMemory& memory_;
    std::atomic<bool>& deviceReady_;
    LinkTiming timing_;
    std::atomic<int> fd_{-1};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace tarvelo::device
