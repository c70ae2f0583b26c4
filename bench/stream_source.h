#pragma once

#include <memory>

#include "device/mtrans.h"
#include "sim/instrument.h"

namespace tarvelo::bench {

// A simulated instrument on loopback that streams as fast as the connection
// takes the records; null when it could not start.
inline std::unique_ptr<sim::Instrument> fastInstrument() {
    sim::InstrumentConfig config;
    config.recordsPerSecond = 0;
    auto instrument = std::make_unique<sim::Instrument>(config);
    if (!instrument->start())
        return nullptr;
    return instrument;
}

// One command exchange ("#L01", "#L02") on a connection of its own.
inline void command(const sim::Instrument& instrument, const char* text,
                    const device::LinkTiming& timing) {
    const int fd = device::connectTo("127.0.0.1", instrument.commandPort(), 1000, 1000);
    device::exchange(fd, text, timing);
    device::closeSocket(fd);
}

}  // namespace tarvelo::bench
