#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarvelo::analysis {

// Fixed English texts of the printed page.
inline constexpr const char* kPrintHeader = "KORVANTE GMBH & CO KG";
inline constexpr std::array<const char*, 4> kPrintRowHeadings = {
    "Minimum value:", "Maximum value:", "Average value:", "Standard deviation:"};

// "Number of datasets: %d".
std::string printCountLine(int32_t count);

struct PrintRect {
    int64_t left = 0;
    int64_t top = 0;
    int64_t right = 0;
    int64_t bottom = 0;
};

// Positions on the printed page in device units, origin at the top-left corner
// of the printable area. Every y is the top of its text.
struct PrintLayout {
    PrintRect chart;          // left 0, top 1000, right W, bottom W / 1.77777777778 + 1000
    int64_t headerRight = 0;  // 200 mm, right-aligned, bold at twice the height
    int64_t headerTop = 0;    // 10 mm
    int64_t leftX = 0;        // 10 mm: count line and row headings, left-aligned
    int64_t countTop = 0;     // chart bottom + 0 mm
    int64_t headingTop = 0;   // chart bottom + 10 mm: channel captions
    // Right edges of the four channel columns (80, 120, 160, 200 mm).
    std::array<int64_t, 4> columnRight{};
    // Tops of the minimum, maximum, average and deviation rows (+20, 25, 30, 35 mm).
    std::array<int64_t, 4> rowTop{};
};

// The page geometry as a function of the printable width (device units) and the
// printer's horizontal and vertical resolution (dots per inch).
PrintLayout computePrintLayout(int64_t pageWidth, int dpiX, int dpiY);

inline PrintLayout computePrintLayout(int64_t pageWidth, int dpi) {
    return computePrintLayout(pageWidth, dpi, dpi);
}

// Millimetres to device units, truncated: trunc(dpi * mm / 25.4).
int64_t millimetresToUnits(int dpi, int mm);

// A position mm millimetres below `base`: trunc(dpi * mm / 25.4 + base), the
// addition made before the truncation.
int64_t unitsBelow(int64_t base, int dpi, int mm);

}  // namespace tarvelo::analysis
