#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/sample_row.h"

namespace tarvelo::publish {

// The messages a recording publishes: one UTF-8 JSON object on one line
// each. Their form is documented for the plant's tools (manual page and
// README) and does not change.

// A channel as the instrument reported it at the start of the run: its
// caption with the unit ("Channel 1 (N)") and the unit, none when the channel
// is not connected.
struct Channel {
    std::string caption;
    std::optional<std::string> unit;
};
using Channels = std::array<Channel, 4>;

// `text` as a JSON string, quotes included. Control characters are escaped;
// other bytes are taken as UTF-8 and kept.
void appendJsonString(std::string& out, std::string_view text);
// The shortest text that reads back as the same double ("1.5", "-2.25",
// "1e+21"), whatever the locale; "null" for NaN and the infinities, which
// JSON cannot carry.
void appendJsonNumber(std::string& out, double value);

// PREFIX/samples:
// {"n": 1234, "time": "2026-12-09T17:55:20.123", "values": [1.5, -2.25, null, 4.125]}
// `n` counts the run's samples from 1, `time` is the device time ("null" when
// it cannot be a date), a channel that is not connected gives null.
void appendSamplePayload(std::string& out, uint64_t n, const acquisition::SampleRow& row,
                         const std::array<bool, 4>& connected);

// PREFIX/channels:
// {"channels": [{"caption": "Channel 1 (N)", "unit": "N"}, ...,
//               {"caption": "Channel 3 (N.C.)", "unit": null}, ...]}
std::string channelsPayload(const Channels& channels);

// PREFIX/status. While the run goes on:
//   {"status": "online", "samples": 1200, "dropped": 0}
// at its end:
//   {"status": "offline", "reason": "completed", "samples": 36000, "dropped": 0,
//    "undelivered": 0}
// and as the broker's last will, when the connection is lost:
//   {"status": "offline", "reason": "connection lost"}
struct Status {
    bool online = true;
    std::string reason;  // offline only
    uint64_t samples = 0;
    uint64_t dropped = 0;
    std::optional<uint64_t> undelivered;  // at the end of the run
};
std::string statusPayload(const Status& status);
std::string lastWillPayload();

}  // namespace tarvelo::publish
