#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvelo::analysis {

struct StandardColour {
    std::string_view name;  // the entry text of the colour lists
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// Every colour list offers these, in this order; the settings store the index.
inline constexpr std::array<StandardColour, 16> StandardColours = {{
    {"clBlack", 0, 0, 0},
    {"clMaroon", 128, 0, 0},
    {"clGreen", 0, 128, 0},
    {"clOlive", 128, 128, 0},
    {"clNavy", 0, 0, 128},
    {"clPurple", 128, 0, 128},
    {"clTeal", 0, 128, 128},
    {"clGray", 128, 128, 128},
    {"clSilver", 192, 192, 192},
    {"clRed", 255, 0, 0},
    {"clLime", 0, 255, 0},
    {"clYellow", 255, 255, 0},
    {"clBlue", 0, 0, 255},
    {"clFuchsia", 255, 0, 255},
    {"clAqua", 0, 255, 255},
    {"clWhite", 255, 255, 255},
}};

// "Color 1" .. "Color 4" when the keys are missing: red, lime, yellow, blue.
inline constexpr std::array<int, 4> kDefaultColourIndex = {9, 10, 11, 12};

// The colour at a stored index; none for an index outside 0..15 (a hand-edited
// settings file), for which the caller picks its own fallback.
constexpr std::optional<StandardColour> standardColour(int index) {
    if (index < 0 || index >= static_cast<int>(StandardColours.size()))
        return std::nullopt;
    return StandardColours[static_cast<std::size_t>(index)];
}

}  // namespace tarvelo::analysis
