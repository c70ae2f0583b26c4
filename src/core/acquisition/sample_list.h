#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_row.h"

namespace tarvelo::app {
class UiText;
}
namespace tarvelo::device {
class DeviceLink;
}

namespace tarvelo::acquisition {

// "dd.mm.yyyy hh.mm.ss." plus "%.3d" milliseconds, device clock, no time
// zone. Seconds outside 0..4294967295 give "--.--.---- --.--.--.---"; not a
// number (a time that could not be read) gives the empty text.
std::string FormatSampleTime(double timeMs);
inline constexpr const char* kInvalidTimeText = "--.--.---- --.--.--.---";
// The same time in ISO 8601, "yyyy-mm-ddThh:mm:ss.mmm" (device clock, no
// zone); the empty text outside that range.
std::string FormatSampleTimeIso(double timeMs);

enum class Alignment { Left, Right };
struct ListColumn {
    int width;
    Alignment alignment;
};
inline constexpr std::array<ListColumn, 6> kListColumns{{{1, Alignment::Left},
                                                         {140, Alignment::Right},
                                                         {100, Alignment::Right},
                                                         {100, Alignment::Right},
                                                         {100, Alignment::Right},
                                                         {100, Alignment::Right}}};
inline constexpr int kListReserve = 10500;

// The content of the main window's sample list: its six column captions and
// its rows. The list is not trimmed when the memory wraps, so it may hold
// more rows than the ring. Row texts are formatted when asked for, with the
// decimal separator the window layer passes. User-interface thread only.
class SampleList {
public:
    SampleList();

    const std::string& caption(int column) const { return captions_.at(column); }
    void setCaption(int column, std::string text) { captions_.at(column) = std::move(text); }
    // Columns 1..5 := UiText entries 6..10 ("Time", "Channel 1".."Channel 4").
    void setPlainCaptions(const app::UiText& text);
    // The channel captions 1..4 (columns 2..5), used by the other windows.
    const std::string& channelCaption(int channel) const { return captions_.at(channel + 1); }

    int32_t size() const { return static_cast<int32_t>(items_.size()); }
    void clear() { items_.clear(); }
    // AddSampleListRow: column 0 is the item count after the append.
    void addRow(const SampleRow& row);
    // RefillSampleList: one item per memory row, chronological, column 0 the
    // ring index. Empties nothing itself.
    void refill(const MeasurementMemory& memory);

    std::string cellText(int32_t row, int column, char decimalSeparator) const;

    struct Item {
        int32_t number;
        SampleRow row;
    };
    const Item& item(int32_t row) const { return items_.at(row); }

private:
    std::array<std::string, 6> captions_;
    std::vector<Item> items_;
};

// UpdateChannelCaptions over an open connection of `link`: plain captions
// first, then per channel "#Z00"+n and "#Z75"; a unit gives " (unit)" and
// sets the memory's unit, an empty unit gives " (N.C.)". False when a channel
// did not answer with the expected echo (its caption then stays plain).
bool UpdateChannelCaptions(device::DeviceLink& link, SampleList& list, MeasurementMemory& memory,
                           const app::UiText& text);

}  // namespace tarvelo::acquisition
