#include "common/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarvelo::common {

std::string formatFixed(double value, int decimals, char decimalSeparator) {
    // Not a number marks a value that could not be read: it has no text.
    if (std::isnan(value))
        return {};
    decimals = std::clamp(decimals, 0, 100);
    // std::to_chars ignores the process locale (which the window layer may
    // change) and prints what printf's "%.*f" prints, "-0.00000" included.
    // The largest double has 309 integer digits. A buffer on the stack: the
    // export text formats four values a line, and short results then need no
    // allocation at all.
    char text[320 + 100];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return {};
    std::replace(text, result.ptr, '.', decimalSeparator);
    return std::string(text, result.ptr);
}

}  // namespace tarvelo::common
