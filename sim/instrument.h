#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvelo::sim {

// What the simulated instrument is made to do wrong on its command port.
enum class CommandFault {
    None,
    SplitReply,       // the reply goes out in chunks of `chunkSizes` with `chunkDelay` between
    EndMarkAlone,     // reply text, then 0x00 0xA7 in a segment of its own
    NoEndMark,        // reply text only, connection kept open
    WrongEcho,        // the echo is replaced by "#ERR"
    NoReply,          // reads the command, never answers, keeps the connection
    CloseMidReply,    // sends half of the reply text, then closes
    RefuseConnections,// closes the listening socket: connects are refused
    OversizedReply,   // a reply text of `oversizeBytes` bytes, then the end mark
};

enum class StreamFault {
    None,
    SplitRecords,     // each record goes out as 20 + 28 bytes in separate segments
    Stall,            // accepts, stays connected, sends nothing
    CloseStream,      // closes the stream connection (and accepts a new one later)
};

// What the stream records carry.
enum class StreamSignal {
    // Channel c of record i is Instrument::recordValue(i, c), time stamp clockStartMs + i:
    // exact and predictable, for tests that check every record.
    Exact,
    // The signals that "#X00" reports, continued record by record: each record carries the
    // values of the same function of the device clock, and the time stamps follow that
    // clock, one step of 1000 / recordsPerSecond ms (1 ms when unpaced) per record.
    Signal,
};

struct BatchRecord {
    std::array<double, 4> value{};
    std::array<double, 4> upperPeak{};
    std::array<double, 4> lowerPeak{};
    double timeMs = 0;
    std::string batch;       // Windows-1252; empty for some records
    std::string batchIndex;  // Windows-1252
};

struct InstrumentConfig {
    // Command port; 0 picks a free port whose port + 2 is free too.
    uint16_t port = 0;
    // Units per channel as Windows-1252 bytes; empty = not connected.
    // Default: "N", "mm", "" (channel 3 not connected), "\xB0" "C" (degrees Celsius).
    std::array<std::string, 4> units{"N", "mm", "", "\xB0" "C"};
    std::array<std::string, 4> serials{"SN-1001", "SN-1002", "SN-1003", "SN-1004"};
    // Batch memory: record count; the "#M01" reply is count - 1 (the highest
    // record number). Records are generated unless `batchRecords` is given.
    int32_t batchCount = 25;
    std::vector<BatchRecord> batchRecords;
    // Stream: records per second; 0 = as fast as the connection takes them.
    double recordsPerSecond = 1000.0;
    // Device clock start in ms since 1970; 0 = the host's clock.
    double clockStartMs = 0;
    StreamSignal stream = StreamSignal::Exact;
    // Drops off the network after this many stream records (0: never): the
    // stream connection is closed and every connection is refused from then
    // on, as an instrument that was switched off. Exactly this many records
    // go out.
    uint64_t dropAfterRecords = 0;
};

// A simulated instrument on 127.0.0.1 that speaks the command protocol and
// the record stream over real sockets. Thread-safe; runs on its own threads.
class Instrument {
public:
    explicit Instrument(InstrumentConfig config = {});
    ~Instrument();  // stops
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Binds and listens on 127.0.0.1 (command port and port + 2); false on failure.
    bool start();
    void stop();

    uint16_t commandPort() const;
    uint16_t streamPort() const;  // commandPort() + 2

    void setCommandFault(CommandFault fault);
    void setChunking(std::vector<std::size_t> chunkSizes, std::chrono::milliseconds delay);
    void setOversizeBytes(std::size_t bytes);
    void setStreamFault(StreamFault fault);
    // Replaces the reply to one command text (the reply text without framing,
    // Windows-1252). An empty map entry is removed by clearReplyOverrides().
    void overrideReply(const std::string& command, const std::string& reply);
    void clearReplyOverrides();
    void setUnit(int channel, std::string unit);
    void setRecordsPerSecond(double rate);

    // The stream records sent while streaming with StreamSignal::Exact: channel c of
    // record i is recordValue(i, c), time stamp clockStartMs + i, flag i % 256.
    static double recordValue(uint64_t recordIndex, int channel);

    bool streaming() const;            // between "#L01" and "#L02"
    uint64_t recordsSent() const;      // whole records written to the stream socket
    uint64_t commandsReceived() const;
    std::vector<std::string> commandLog() const;  // command texts in order
    void clearCommandLog();
    int streamConnections() const;     // stream connections accepted so far
    // Drops off the network now (see InstrumentConfig::dropAfterRecords).
    void dropOff();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvelo::sim
